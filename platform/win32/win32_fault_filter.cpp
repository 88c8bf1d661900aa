// A fault in the program's own code is turned into a thrown failure at the faulting instruction,
// so that it unwinds like any other failure: every cleanup between the fault and the top-level
// handler runs before the report. Faults that cannot be unwound are reported from here.
#include "platform/win32/win32_fault_filter.h"

#include <windows.h>

#include <cstdlib>
#include <exception>

#include "calendar/extended.h"
#include "failure/fault_table.h"
#include "failure/top_level.h"

namespace autobackup {
namespace {

// The system calls the filter with no context of ours, so what it reports through is kept here,
// set once at start-up.
const TReportServices* reporting = nullptr;
uintptr_t program_base = 0;
// The fault on its way to the report; its failure refers to this record.
TFaultRecord fault;
// Set once a fault has been taken: a later one (in a cleanup on the first one's way out, say)
// does not start a second journey.
volatile LONG fault_taken = 0;

void Record(const EXCEPTION_RECORD& record) {
  fault.Code = record.ExceptionCode;
  fault.Address = record.ExceptionAddress;
  fault.ParameterCount = record.NumberParameters < 2 ? record.NumberParameters : 2;
  for (DWORD i = 0; i < fault.ParameterCount; ++i) {
    fault.Parameters[i] = record.ExceptionInformation[i];
  }
}

void ReportRecordedFault() {
  const auto failure = FailureFromFault(fault, reporting->modules);
  ReportFatalFailure(*failure, fault.Address, *reporting);
}

DWORD WINAPI ReportOnFreshStack(LPVOID) {
  ReportRecordedFault();
  return 0;
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

#if defined(__x86_64__)
// The faulting code's stack need not be aligned as at a call: this frame realigns it before
// calling into C++, and its frame pointer gives the unwinder the way back whatever it was.
asm(R"(
	.text
	.p2align 4
	.globl autobackup_fault_trampoline
	.def autobackup_fault_trampoline; .scl 2; .type 32; .endef
	.seh_proc autobackup_fault_trampoline
autobackup_fault_trampoline:
	pushq %rbp
	.seh_pushreg %rbp
	movq %rsp, %rbp
	.seh_setframe %rbp, 0
	.seh_endprologue
	andq $-16, %rsp
	subq $32, %rsp
	call autobackup_throw_recorded_fault
	ud2
	.seh_endproc
)");
extern "C" void autobackup_fault_trampoline();
#endif

namespace {

bool InProgram(uintptr_t address) {
  const TMemoryRegion region = reporting->modules.QueryRegion(address);
  return region.Committed && region.AllocationBase == program_base;
}

// Makes the faulting thread go on in the thrower as though the faulting instruction had called
// it. Only code of the program's own carries the unwind tables for that; false elsewhere.
bool RedirectToThrow(CONTEXT& context, uintptr_t address) {
#if defined(__x86_64__)
  DWORD64& stack = context.Rsp;
  DWORD64& next = context.Rip;
  const auto thrower = reinterpret_cast<uintptr_t>(&autobackup_fault_trampoline);
#else
  DWORD& stack = context.Esp;
  DWORD& next = context.Eip;
  // The 32-bit build realigns the stack in every function that needs it.
  const auto thrower = reinterpret_cast<uintptr_t>(&autobackup_throw_recorded_fault);
#endif
  if (address == 0) {
    // A call through a null pointer: the call has pushed its return address into the caller.
    if (!InProgram(*reinterpret_cast<const uintptr_t*>(stack))) {
      return false;
    }
  } else {
    if (!InProgram(address)) {
      return false;
    }
    // The unwinder looks up the instruction before a return address: here the faulting one.
    stack -= sizeof(uintptr_t);
    *reinterpret_cast<uintptr_t*>(stack) = address + 1;
  }
  next = thrower;
  return true;
}

LONG WINAPI FaultFilter(EXCEPTION_POINTERS* info) {
  // An attached debugger gets the fault as the system would hand it on.
  if (IsDebuggerPresent()) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  // A fault while the report is up ends the process without a second box.
  if (reporting->guard.Claimed()) {
    ExitProcess(1);
  }
  LoadDefaultFpuControlWord();
  const EXCEPTION_RECORD& record = *info->ExceptionRecord;
  if (InterlockedExchange(&fault_taken, 1) == 0) {
    Record(record);
    // A stack overflow leaves no stack to run cleanups on.
    if (record.ExceptionCode != EXCEPTION_STACK_OVERFLOW &&
        RedirectToThrow(*info->ContextRecord,
                        reinterpret_cast<uintptr_t>(record.ExceptionAddress))) {
      return EXCEPTION_CONTINUE_EXECUTION;
    }
  }
  // Reported from here, with no cleanup: the first fault taken is the one the user sees. Nothing
  // unwinds this thread's check, so its hold of the check lock is given back here, on the only
  // thread that can, before any box waits on the user.
  reporting->check_lock.ReleaseThreadHolds();
  if (record.ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
    // Too little stack is left here for a message box.
    HANDLE thread = CreateThread(nullptr, 0, ReportOnFreshStack, nullptr, 0, nullptr);
    if (thread != nullptr) {
      WaitForSingleObject(thread, INFINITE);
    }
    ExitProcess(1);
  }
  ReportRecordedFault();
  return EXCEPTION_EXECUTE_HANDLER;
}

// A thrown failure that finds no handler on its way (through a function that must not throw,
// or frames without unwind tables) is reported all the same.
[[noreturn]] void ReportOnTerminate() {
  if (std::current_exception()) {
    ReportCurrentFailure(*reporting);
  }
  std::abort();
}

}  // namespace

void InstallFaultFilter(const TReportServices& services) {
  reporting = &services;
  program_base = reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr));
  SetUnhandledExceptionFilter(FaultFilter);
  std::set_terminate(ReportOnTerminate);
}

}  // namespace autobackup
