// What AutoBackup.exe and its test-only fault build share: the real operating-system back ends,
// the outermost failure handlers and the scheduler.
#pragma once

#include "platform/clock.h"

namespace autobackup {

// Runs the program on the real back ends, reading the time from `clock`; returns the exit code.
int RunProgram(Clock& clock);

}  // namespace autobackup
