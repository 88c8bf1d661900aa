// The outermost handler: which fault is the one the user sees (claimed once, so that a fault on
// the way ends the process instead of starting again), whether it goes on as a throw from the
// faulting instruction (win32_fault_redirect.cpp), so that every cleanup between it and the
// top-level handler runs before the report, or is reported from here, and the terminate handler.
// A stack overflow is reported by a thread of its own (win32_overflow_reporter.cpp).
#include "platform/win32/win32_fault_filter.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <exception>

#include "calendar/extended.h"
#include "failure/fault_table.h"
#include "failure/top_level.h"
#include "platform/win32/win32_fault_redirect.h"
#include "platform/win32/win32_overflow_reporter.h"

namespace autobackup {
namespace {

// The system calls the filter with no context of ours, so what it reports through is kept here,
// set once at start-up.
const TReportServices* reporting = nullptr;
// The fault on its way to the report; its failure refers to this record.
TFaultRecord fault;

// How far the first fault has got. Claimed on entry to the filter, so that a fault anywhere on
// the way (in a cleanup, in composing the report) ends the process instead of starting again.
enum : LONG { kNoFault, kFaultTaken, kReportingDirectly };
volatile LONG stage = kNoFault;

// What the runtime raises to look for a C++ handler (and the unwinding that follows); continuable
// when it only asks. Answering "go on" hands an uncaught failure back to the runtime, which then
// calls the terminate handler with the failure itself.
constexpr DWORD kGccExceptionMask = 0x20FFFFFF;
constexpr DWORD kGccException = 0x20474343;
// The system's fail-fast code: what a program that ends itself for a broken state reports.
constexpr uint32_t kFailFastCode = 0xC0000409;

void Record(const EXCEPTION_RECORD& record) {
  fault.Code = record.ExceptionCode;
  fault.Address = record.ExceptionAddress;
  fault.ParameterCount = record.NumberParameters < 2 ? record.NumberParameters : 2;
  for (DWORD i = 0; i < fault.ParameterCount; ++i) {
    fault.Parameters[i] = record.ExceptionInformation[i];
  }
}

// Also the overflow reporter's report, on its own thread.
[[noreturn]] void ReportRecordedFault(const TReportServices& services) {
  const auto failure = FailureFromFault(fault, services.modules);
  ReportFatalFailure(*failure, fault.Address, services);
}

// Called before any frame's handler, while the little stack the system leaves after an overflow
// still suffices (the unhandled-exception filter comes too late for that on some systems).
LONG WINAPI OverflowHandler(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW || IsDebuggerPresent()) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  if (reporting->guard.Claimed()) {
    EndAtOnce();
  }
  if (InterlockedCompareExchange(&stage, kFaultTaken, kNoFault) == kNoFault) {
    Record(*info->ExceptionRecord);
  }
  if (InterlockedExchange(&stage, kReportingDirectly) == kReportingDirectly) {
    EndAtOnce();
  }
  ReportOverflow();
}

}  // namespace

// Where a redirected fault resumes, as though the faulting instruction had called it.
extern "C" [[noreturn]] __attribute__((noinline, used)) void autobackup_throw_recorded_fault() {
  LoadDefaultFpuControlWord();
  const auto failure = FailureFromFault(fault, reporting->modules);
  failure->SetRaiseAddress(fault.Address);
  failure->Throw();
  std::abort();  // Throw never returns; the compiler cannot see that through the virtual call.
}

namespace {

LONG WINAPI FaultFilter(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD& record = *info->ExceptionRecord;
  if ((record.ExceptionCode & kGccExceptionMask) == kGccException &&
      (record.ExceptionFlags & EXCEPTION_NONCONTINUABLE) == 0) {
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  // An attached debugger gets the fault as the system would hand it on.
  if (IsDebuggerPresent()) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  // A fault while a report is being made or shown ends the process without a second box.
  if (reporting->guard.Claimed()) {
    EndAtOnce();
  }
  LoadDefaultFpuControlWord();
  if (InterlockedCompareExchange(&stage, kFaultTaken, kNoFault) == kNoFault) {
    Record(record);
    // A stack overflow leaves no stack to run cleanups on.
    if (record.ExceptionCode != EXCEPTION_STACK_OVERFLOW &&
        RedirectToThrow(*info->ContextRecord,
                        reinterpret_cast<uintptr_t>(record.ExceptionAddress))) {
      return EXCEPTION_CONTINUE_EXECUTION;
    }
  }
  // Reported from here, with no cleanup: the first fault taken is the one the user sees. A fault
  // while doing so comes back here and ends the process.
  if (InterlockedExchange(&stage, kReportingDirectly) == kReportingDirectly) {
    EndAtOnce();
  }
  // The overflow may be this fault or the first one, whose journey has used up the stack.
  if (record.ExceptionCode == EXCEPTION_STACK_OVERFLOW || fault.Code == EXCEPTION_STACK_OVERFLOW) {
    ReportOverflow();
  }
  ReportRecordedFault(*reporting);
}

// A thrown failure that finds no handler on its way (through a function that must not throw, or
// on a thread that catches nothing) is reported all the same; terminate with no failure at all
// (a pure virtual call, a rethrow outside a handler) is reported as the system's fail-fast code.
[[noreturn]] void ReportOnTerminate() {
  if (std::current_exception()) {
    ReportCurrentFailure(*reporting);
  }
  static const TFaultRecord fail_fast{kFailFastCode, nullptr, 0, {0, 0}};
  const auto failure = FailureFromFault(fail_fast, reporting->modules);
  ReportFatalFailure(*failure, nullptr, *reporting);
}

}  // namespace

void InstallFaultFilter(const TReportServices& services) {
  reporting = &services;
  StartOverflowReporter(services, ReportRecordedFault);
  AddVectoredExceptionHandler(1, OverflowHandler);
  SetUnhandledExceptionFilter(FaultFilter);
  std::set_terminate(ReportOnTerminate);
}

}  // namespace autobackup
