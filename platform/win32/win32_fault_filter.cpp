#include "platform/win32/win32_fault_filter.h"

#include <windows.h>

#include "calendar/extended.h"
#include "failure/fault_table.h"

namespace autobackup {
namespace {

// The system calls the filter with no context of ours, so what it reports through is kept here,
// set once at start-up.
struct FaultReporting {
  ModuleLookup* modules = nullptr;
  MessageBoxes* boxes = nullptr;
  ExitFunction exit_process = nullptr;
};
FaultReporting reporting;
// The failure refers to its fault record, which must outlive the report.
TFaultRecord fault;
volatile LONG reported = 0;

void Report(const EXCEPTION_RECORD& record) {
  fault.Code = record.ExceptionCode;
  fault.Address = record.ExceptionAddress;
  fault.ParameterCount = record.NumberParameters < 2 ? record.NumberParameters : 2;
  for (DWORD i = 0; i < fault.ParameterCount; ++i) {
    fault.Parameters[i] = record.ExceptionInformation[i];
  }
  const auto failure = FailureFromFault(fault, *reporting.modules);
  ReportFatalFailure(*failure, record.ExceptionAddress, *reporting.modules, *reporting.boxes,
                     reporting.exit_process);
}

DWORD WINAPI ReportOnFreshStack(LPVOID record) {
  Report(*static_cast<const EXCEPTION_RECORD*>(record));
  return 0;
}

LONG WINAPI FaultFilter(EXCEPTION_POINTERS* info) {
  // An attached debugger gets the fault as the system would hand it on.
  if (IsDebuggerPresent()) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  // A fault while the report is up ends the process without a second box.
  if (InterlockedExchange(&reported, 1) != 0) {
    ExitProcess(1);
  }
  LoadDefaultFpuControlWord();
  const EXCEPTION_RECORD& record = *info->ExceptionRecord;
  if (record.ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
    // Too little stack is left here for a message box.
    HANDLE thread = CreateThread(nullptr, 0, ReportOnFreshStack,
                                 const_cast<EXCEPTION_RECORD*>(&record), 0, nullptr);
    if (thread != nullptr) {
      WaitForSingleObject(thread, INFINITE);
    }
    ExitProcess(1);
  }
  Report(record);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void InstallFaultFilter(ModuleLookup& modules, MessageBoxes& boxes, ExitFunction exit_process) {
  reporting = {&modules, &boxes, exit_process};
  SetUnhandledExceptionFilter(FaultFilter);
}

}  // namespace autobackup
