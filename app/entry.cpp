#include "app/entry.h"

#include <cstdlib>
#include <new>

#include "app/startup.h"
#include "calendar/extended.h"
#include "failure/top_level.h"
#include "platform/win32/library_search.h"
#include "platform/win32/win32_check_lock.h"
#include "platform/win32/win32_fault_filter.h"
#include "platform/win32/win32_message_boxes.h"
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

// The report's services and the check lock it gives back before its box.
struct TProcessServices {
  Win32ModuleLookup modules;
  Win32MessageBoxes boxes;
  TReportGuard guard;
  Win32CheckLock check_lock;
  TReportServices reporting{modules, boxes, EndProcess, guard, check_lock};
};

namespace {

// Never destroyed, and made without allocating: nothing registers its end with the runtime.
alignas(TProcessServices) unsigned char process_services[sizeof(TProcessServices)];

}  // namespace

TProcessServices& PrepareProcess() {
  RestrictLibrarySearch();
  auto* process = new (process_services) TProcessServices();
  InstallFaultFilter(process->reporting);
  // Before any of the program's own arithmetic: every build computes under the same control word.
  LoadDefaultFpuControlWord();
  return *process;
}

int RunProgram(Clock& clock, TProcessServices& process) {
  return RunReportingFailures(
      [&] {
        // Opened here, under the handler: telling the user's name allocates and may fail.
        process.check_lock.Open(CheckLockName());
        Win32Registry registry;
        Win32MessageQueue queue;
        Win32ProcessStarter starter;
        Win32MessageBoxes boxes;
        const TMonitorServices services{registry, clock, queue, starter, boxes, process.check_lock};
        return RunScheduler(process.reporting.modules, services);
      },
      process.reporting);
}

}  // namespace autobackup
