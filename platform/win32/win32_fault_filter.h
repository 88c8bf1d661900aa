// The outermost handler for processor and system faults: a fault becomes a failure by the fault
// table and ends in the fatal report, with no crash dialog of the system's.
#pragma once

#include "failure/report.h"

namespace autobackup {

// Installs the handler and the terminate handler, and starts the thread that reports a stack
// overflow; the services must live as long as the process.
void InstallFaultFilter(const TReportServices& services);

// Libraries the program loads (those a message box needs, say) come from the system folder only,
// never from the exe's. Where the system cannot restrict that (an unpatched Vista), nothing
// changes.
void RestrictLibrarySearch();

}  // namespace autobackup
