// The program's life from start to a clean end: its directory, the start-up handshake with the
// tick source, the monitor cycle, and the exit code.
#pragma once

#include <string>

#include "platform/module_lookup.h"
#include "scheduling/monitor.h"

namespace autobackup {

// Everything of `path` (UTF-8) up to and including its last backslash or colon; empty when there
// is neither.
std::string ProgramDirectoryOf(const std::string& path);

// Runs the scheduler until a check finds the schedule missing; returns the exit code, 0.
int RunScheduler(ModuleLookup& modules, const TMonitorServices& services);

}  // namespace autobackup
