// AutoBackup.exe: builds the real operating-system back ends, installs the outermost failure
// handlers and runs the scheduler.
#include <windows.h>

#include <cstdlib>

#include "app/startup.h"
#include "calendar/extended.h"
#include "failure/top_level.h"
#include "platform/win32/win32_check_lock.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_fault_filter.h"
#include "platform/win32/win32_message_queue.h"
#include "platform/win32/win32_module_lookup.h"
#include "platform/win32/win32_process.h"
#include "platform/win32/win32_registry.h"
#ifdef AUTOBACKUP_FAULT_TEST_BUILD
#include "e2e/tools/fault_injection.h"
#endif

namespace {

// The run time's normal shutdown, then ExitProcess with the code.
[[noreturn]] void EndProcess(int exit_code) {
  std::exit(exit_code);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Before any of the program's own arithmetic: every build computes under the same control word.
  autobackup::LoadDefaultFpuControlWord();

  autobackup::Win32Registry registry;
  autobackup::Win32Clock clock;
  autobackup::Win32MessageQueue queue;
  autobackup::Win32ProcessStarter starter;
  autobackup::Win32MessageBoxes boxes;
  autobackup::Win32CheckLock lock(autobackup::CheckLockName());
  autobackup::Win32ModuleLookup modules;
  autobackup::InstallFaultFilter(modules, boxes, EndProcess);

#ifndef AUTOBACKUP_FAULT_TEST_BUILD
  const autobackup::TMonitorServices services{registry, clock, queue, starter, boxes, lock};
#else
  // Test-only build (AutoBackupFaults.exe, never shipped): the first clock read, inside a check
  // with the schedule key open, commits the processor fault the command line names.
  autobackup::FaultingClock faulting_clock(clock, autobackup::InjectedFaultOf(GetCommandLineA()));
  const autobackup::TMonitorServices services{registry, faulting_clock, queue,
                                              starter,  boxes,          lock};
#endif
  return autobackup::RunReportingFailures(
      [&] { return autobackup::RunScheduler(modules, services); }, modules, boxes, EndProcess);
}
