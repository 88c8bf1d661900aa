// A fault in the program's own code is turned into a thrown failure at the faulting instruction,
// so that it unwinds like any other failure: every cleanup between the fault and the top-level
// handler runs before the report. Faults that cannot be unwound are reported from here.
#include "platform/win32/win32_fault_filter.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "calendar/extended.h"
#include "failure/fault_table.h"
#include "failure/top_level.h"
#include "platform/win32/program_code.h"

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

// A stack overflow leaves too little stack, and perhaps a lock held (the heap's, the loader's),
// to start anything: the thread that reports it is started with the filter and only woken here.
// It says when its box is up; until then the overflowed thread waits only a bounded time.
HANDLE overflow_reporter = nullptr;
HANDLE overflow_event = nullptr;
HANDLE box_up_event = nullptr;
// The thread that installed the filter: should the system end it, overflowed, without handing the
// overflow to the program (as Wine does on 64-bit), the reporting thread must not keep the process.
HANDLE main_thread = nullptr;
// How long the woken thread may take to put its box up before the process ends without it.
constexpr DWORD kBoxWaitMilliseconds = 10000;
// Stack kept back on the main thread for the filter after an overflow.
constexpr ULONG kOverflowStackGuarantee = 64 * 1024;

// What the runtime raises to look for a C++ handler (and the unwinding that follows); continuable
// when it only asks. Answering "go on" hands an uncaught failure back to the runtime, which then
// calls the terminate handler with the failure itself.
constexpr DWORD kGccExceptionMask = 0x20FFFFFF;
constexpr DWORD kGccException = 0x20474343;
// The system's fail-fast code: what a program that ends itself for a broken state reports.
constexpr uint32_t kFailFastCode = 0xC0000409;

// Ends the process with exit code 1 at once: no runtime shutdown, no library detach, nothing that
// could wait on a lock the failing thread holds.
[[noreturn]] void EndAtOnce() {
  TerminateProcess(GetCurrentProcess(), 1);
  ExitProcess(1);
}

void Record(const EXCEPTION_RECORD& record) {
  fault.Code = record.ExceptionCode;
  fault.Address = record.ExceptionAddress;
  fault.ParameterCount = record.NumberParameters < 2 ? record.NumberParameters : 2;
  for (DWORD i = 0; i < fault.ParameterCount; ++i) {
    fault.Parameters[i] = record.ExceptionInformation[i];
  }
}

[[noreturn]] void ReportRecordedFault(const TReportServices& services) {
  const auto failure = FailureFromFault(fault, services.modules);
  ReportFatalFailure(*failure, fault.Address, services);
}

void EndAtOnceWith(int) {
  EndAtOnce();
}

// The box is up once its dialog window is made. Its activation would come later, or never: the
// system does not let a process in the background bring a window to the front.
LRESULT CALLBACK WatchForBox(int code, WPARAM wparam, LPARAM lparam) {
  wchar_t class_name[8];
  if (code == HCBT_CREATEWND &&
      GetClassNameW(reinterpret_cast<HWND>(wparam), class_name, ARRAYSIZE(class_name)) == 6 &&
      lstrcmpW(class_name, L"#32770") == 0) {
    SetEvent(box_up_event);
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

DWORD WINAPI ReportOverflowWhenWoken(LPVOID) {
  // Hooked before the wait, while all is well: after the overflow the heap's or the loader's lock
  // may be held, and the box must not come without the hook that tells it is up.
  SetWindowsHookExW(WH_CBT, WatchForBox, nullptr, GetCurrentThreadId());
  const HANDLE wakes[] = {overflow_event, main_thread};
  if (WaitForMultipleObjects(main_thread != nullptr ? 2 : 1, wakes, FALSE, INFINITE) !=
      WAIT_OBJECT_0) {
    EndAtOnce();
  }
  // The overflowed thread may hold any lock: the end after OK must not wait for one either.
  TReportServices services = *reporting;
  services.exit_process = EndAtOnceWith;
  ReportRecordedFault(services);
}

// Wakes the reporting thread and waits, a bounded time, for its box; once the box is up the user
// decides when the process ends. Only calls that need next to no stack.
[[noreturn]] void ReportOverflow() {
  // The report gives back the check lock before its box, but on the reporting thread, which holds
  // none of it: the overflowed check's hold is given back here, on the only thread that can.
  reporting->check_lock.ReleaseThreadHolds();
  if (overflow_reporter != nullptr && SetEvent(overflow_event)) {
    const HANDLE ends[] = {box_up_event, overflow_reporter};
    if (WaitForMultipleObjects(2, ends, FALSE, kBoxWaitMilliseconds) == WAIT_OBJECT_0) {
      WaitForSingleObject(overflow_reporter, INFINITE);
    }
  }
  EndAtOnce();
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

// Whether the instruction that ends just before `after` is a call: an indirect near call (FF /2),
// or a direct one (E8) into the program's code, the jump through a null pointer being the callee's
// tail call. Its bytes lie in the program's own code, so they can be read.
bool FollowsCall(uintptr_t after) {
  constexpr uintptr_t kLongest = 7;  // FF, ModRM, SIB and a 32-bit displacement
  if (!InProgramCode(after - kLongest) || !InProgramCode(after - 1)) {
    return false;
  }
  const auto* end = reinterpret_cast<const unsigned char*>(after);
  if (end[-5] == 0xE8) {
    int32_t displacement;
    std::memcpy(&displacement, end - 4, sizeof displacement);
    if (InProgramCode(after + static_cast<intptr_t>(displacement))) {
      return true;
    }
  }
  for (uintptr_t length = 2; length <= kLongest; ++length) {
    const unsigned char* at = end - length;
    const unsigned modrm = at[1];
    const unsigned mod = modrm >> 6;
    const unsigned rm = modrm & 7;
    if (at[0] != 0xFF || ((modrm >> 3) & 7) != 2) {
      continue;
    }
    uintptr_t expected = 2;
    if (mod != 3 && rm == 4) {
      expected += 1;  // SIB
      if (mod == 0 && (at[2] & 7) == 5) {
        expected += 4;
      }
    }
    if (mod == 1) {
      expected += 1;
    } else if (mod == 2 || (mod == 0 && rm == 5)) {
      expected += 4;
    }
    if (expected == length) {
      return true;
    }
  }
  return false;
}

// Makes the faulting thread go on in the thrower as though the faulting instruction had called
// it. Only the program's own code is built for that (every instruction that can trap can throw,
// with exact unwind tables); false elsewhere, and the fault is reported where it happened.
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
    // A call through a null pointer has pushed its return address (a jump through one leaves the
    // caller's); a return into a zeroed slot faults here too, and then the word on the stack is
    // no return address at all.
    if (!FollowsCall(*reinterpret_cast<const uintptr_t*>(stack))) {
      return false;
    }
  } else {
    if (!InProgramCode(address)) {
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
  ULONG guarantee = kOverflowStackGuarantee;
  SetThreadStackGuarantee(&guarantee);
  overflow_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  box_up_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &main_thread,
                  SYNCHRONIZE, FALSE, 0);
  if (overflow_event != nullptr && box_up_event != nullptr) {
    overflow_reporter = CreateThread(nullptr, 0, ReportOverflowWhenWoken, nullptr, 0, nullptr);
  }
  AddVectoredExceptionHandler(1, OverflowHandler);
  SetUnhandledExceptionFilter(FaultFilter);
  std::set_terminate(ReportOnTerminate);
}

void RestrictLibrarySearch() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto set_directories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (set_directories != nullptr) {
    set_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
}

}  // namespace autobackup
