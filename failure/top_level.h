// The outermost failure handler for failures the program raises: the one place that catches.
#pragma once

#include <functional>

#include "failure/report.h"

namespace autobackup {

// Runs `body` and returns its exit code. A failure that escapes it is reported after every
// cleanup on its way out has run, and the process ends with exit code 1.
int RunReportingFailures(const std::function<int()>& body, const TReportServices& services);

// Reports the failure being handled; only for a catch block or a terminate handler.
[[noreturn]] void ReportCurrentFailure(const TReportServices& services);

}  // namespace autobackup
