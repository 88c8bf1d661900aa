#include "app/entry.h"

#include <cstdlib>

#include "app/startup.h"
#include "calendar/extended.h"
#include "failure/top_level.h"
#include "platform/win32/win32_check_lock.h"
#include "platform/win32/win32_fault_filter.h"
#include "platform/win32/win32_message_queue.h"
#include "platform/win32/win32_module_lookup.h"
#include "platform/win32/win32_process.h"
#include "platform/win32/win32_registry.h"

namespace autobackup {
namespace {

// The run time's normal shutdown, then ExitProcess with the code.
[[noreturn]] void EndProcess(int exit_code) {
  std::exit(exit_code);
}

}  // namespace

int RunProgram(Clock& clock) {
  // Before any of the program's own arithmetic: every build computes under the same control word.
  LoadDefaultFpuControlWord();

  Win32Registry registry;
  Win32MessageQueue queue;
  Win32ProcessStarter starter;
  Win32MessageBoxes boxes;
  Win32CheckLock lock(CheckLockName());
  Win32ModuleLookup modules;
  TReportGuard report_guard;
  const TReportServices reporting{modules, boxes, EndProcess, report_guard, lock};
  InstallFaultFilter(reporting);

  const TMonitorServices services{registry, clock, queue, starter, boxes, lock};
  return RunReportingFailures([&] { return RunScheduler(modules, services); }, reporting);
}

}  // namespace autobackup
