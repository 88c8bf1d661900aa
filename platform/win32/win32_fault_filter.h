// The outermost handler for processor and system faults: a fault becomes a failure by the fault
// table and ends in the fatal report, with no crash dialog of the system's.
#pragma once

#include "failure/report.h"

namespace autobackup {

// Installs the handler and the terminate handler, and starts the thread that reports a stack
// overflow; the services must live as long as the process.
void InstallFaultFilter(const TReportServices& services);

}  // namespace autobackup
