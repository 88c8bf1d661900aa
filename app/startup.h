// The program's life from start to a clean end: its directory, the start-up handshake with the
// tick source, the monitor cycle, and the exit code.
#pragma once

#include <string>

#include "platform/module_lookup.h"
#include "scheduling/monitor.h"

namespace autobackup {

// Everything of `path` up to and including its last backslash or colon; a byte that is the
// second half of a double-byte character never counts. Empty when there is neither.
std::string ProgramDirectoryOf(const std::string& path, ModuleLookup& modules);

// Runs the scheduler until a check finds the schedule missing; returns the exit code, 0.
int RunScheduler(ModuleLookup& modules, const TMonitorServices& services);

}  // namespace autobackup
