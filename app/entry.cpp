#include "app/entry.h"

#include <cstdlib>
#include <new>

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

struct TProcessServices {
  Win32ModuleLookup modules;
  Win32MessageBoxes boxes;
  TReportGuard guard;
  TReportServices reporting{modules, boxes, EndProcess, guard};
};

// Never destroyed, and made without allocating: nothing registers its end with the runtime.
alignas(TProcessServices) unsigned char process_services[sizeof(TProcessServices)];

}  // namespace

const TReportServices& PrepareProcess() {
  RestrictLibrarySearch();
  const auto* process = new (process_services) TProcessServices();
  InstallFaultFilter(process->reporting);
  // Before any of the program's own arithmetic: every build computes under the same control word.
  LoadDefaultFpuControlWord();
  return process->reporting;
}

int RunProgram(Clock& clock, const TReportServices& reporting) {
  return RunReportingFailures(
      [&] {
        Win32Registry registry;
        Win32MessageQueue queue;
        Win32ProcessStarter starter;
        Win32MessageBoxes boxes;
        Win32CheckLock lock(CheckLockName());
        const TMonitorServices services{registry, clock, queue, starter, boxes, lock};
        return RunScheduler(reporting.modules, services);
      },
      reporting);
}

}  // namespace autobackup
