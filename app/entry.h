// What AutoBackup.exe and its test-only fault build share: the real operating-system back ends,
// the outermost failure handlers and the scheduler.
#pragma once

#include "platform/clock.h"

namespace autobackup {

// The first call of the entry, before any other code of the program's: libraries load from the
// system folder only, and the outermost handlers are installed with report services that live
// as long as the process (the handlers may still run during the runtime's shutdown).
struct TProcessServices;
TProcessServices& PrepareProcess();

// Runs the program on the real back ends, reading the time from `clock`; returns the exit code.
// Everything it builds is built under the top-level handler.
int RunProgram(Clock& clock, TProcessServices& process);

}  // namespace autobackup
