#include "e2e/faults/fault_injection.h"

#include <cstring>
#include <exception>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "failure/failures.h"

namespace autobackup {
namespace {

const struct {
  const char* word;
  InjectedFault fault;
} kFaultWords[] = {
    {"null-call", InjectedFault::kNullCall},
    {"divide-by-zero", InjectedFault::kDivideByZero},
    {"library-null-read", InjectedFault::kLibraryNullRead},
    {"noexcept-divide", InjectedFault::kNoexceptDivide},
    {"fault-in-cleanup", InjectedFault::kFaultInCleanup},
    {"terminate", InjectedFault::kTerminate},
    {"uncaught-failure", InjectedFault::kUncaughtFailure},
    {"second-thread-fault", InjectedFault::kSecondThreadFault},
    {"runtime-divide", InjectedFault::kRuntimeDivide},
    {"fault-composing", InjectedFault::kFaultComposing},
    {"stack-overflow", InjectedFault::kStackOverflow},
    {"stack-overflow-locked", InjectedFault::kStackOverflowLocked},
};

__attribute__((noinline)) void DivideByZero() {
  volatile int dividend = 1;
  volatile int divisor = 0;
  volatile int quotient = dividend / divisor;
  static_cast<void>(quotient);
}

__attribute__((noinline)) void CallNull() {
  // volatile: the compiler must emit the call, not reason about the null.
  void (*volatile target)() = nullptr;
  target();
}

__attribute__((noinline)) void DivideByZeroInNoexcept() noexcept {
  DivideByZero();
}

__attribute__((noinline)) void RethrowNothing() {
  throw;
}

// The widest integer division the target does in software: the runtime library's routine, which
// divides by zero on purpose when the divisor is zero.
__attribute__((noinline)) void DivideInRuntime() {
#if defined(__x86_64__)
  volatile __int128 dividend = 1;
  volatile __int128 divisor = 0;
#else
  volatile long long dividend = 1;
  volatile long long divisor = 0;
#endif
  volatile auto quotient = dividend / divisor;
  static_cast<void>(quotient);
}

class EFaultyName : public Exception {
 public:
  using Exception::Exception;
  const char* TypeName() const override {
    CallNull();
    return "EFaultyName";
  }
  [[noreturn]] void Throw() const override { throw *this; }
};

volatile unsigned never = 0;

__attribute__((noinline)) unsigned Recurse(unsigned depth) {
  volatile char room[256];
  room[0] = static_cast<char>(depth);
  if (depth == never) {
    return 0;
  }
  return Recurse(depth + 1) + room[0];
}

#if defined(_WIN32)
DWORD WINAPI RaiseUncaught(LPVOID) {
  Raise<EConvertError>(StringId::DateEncodeError);
}

DWORD WINAPI DivideUncaught(LPVOID) {
  DivideByZero();
  return 0;
}

void RunOnSecondThread(LPTHREAD_START_ROUTINE body) {
  HANDLE thread = CreateThread(nullptr, 0, body, nullptr, 0, nullptr);
  if (thread != nullptr) {
    WaitForSingleObject(thread, INFINITE);
  }
}
#endif

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

InjectedFault InjectedFaultOf(const char* command_line) {
  const char* at = command_line;
  // The program's path: up to the closing quote when quoted (blanks and all), else to a blank.
  if (*at == '"') {
    ++at;
    while (*at != '\0' && *at != '"') {
      ++at;
    }
    if (*at == '"') {
      ++at;
    }
  } else {
    while (*at != '\0' && !IsBlank(*at)) {
      ++at;
    }
  }
  while (IsBlank(*at)) {
    ++at;
  }
  const char* end = at;
  while (*end != '\0' && !IsBlank(*end)) {
    ++end;
  }
  const std::string word(at, end);
  for (const auto& known : kFaultWords) {
    if (word == known.word) {
      return known.fault;
    }
  }
  return InjectedFault::kNone;
}

// Kept out of line so that the faulting instruction lies in a function of its own name.
__attribute__((noinline)) void CommitFault(InjectedFault fault) {
  switch (fault) {
    case InjectedFault::kNullCall:
      CallNull();
      break;
    case InjectedFault::kDivideByZero: {
      volatile int dividend = 1;
      volatile int divisor = 0;
      volatile int quotient = dividend / divisor;
      static_cast<void>(quotient);
      break;
    }
    case InjectedFault::kLibraryNullRead: {
      const char* volatile text = nullptr;
      volatile size_t length = std::strlen(text);
      static_cast<void>(length);
      break;
    }
    case InjectedFault::kNoexceptDivide:
      DivideByZeroInNoexcept();
      break;
    case InjectedFault::kFaultInCleanup: {
      struct FaultsWhileUnwinding {
        ~FaultsWhileUnwinding() {
          if (std::uncaught_exceptions() > 0) {
            CallNull();
          }
        }
      } cleanup;
      DivideByZero();
      break;
    }
    case InjectedFault::kTerminate:
      RethrowNothing();
      break;
    case InjectedFault::kRuntimeDivide:
      DivideInRuntime();
      break;
    case InjectedFault::kFaultComposing:
      throw EFaultyName("never shown");
    case InjectedFault::kStackOverflow:
      Recurse(1);
      break;
#if defined(_WIN32)
    case InjectedFault::kUncaughtFailure:
      RunOnSecondThread(RaiseUncaught);
      break;
    case InjectedFault::kSecondThreadFault:
      RunOnSecondThread(DivideUncaught);
      break;
    case InjectedFault::kStackOverflowLocked:
      HeapLock(GetProcessHeap());
      Recurse(1);
      break;
#else
    case InjectedFault::kUncaughtFailure:
    case InjectedFault::kSecondThreadFault:
    case InjectedFault::kStackOverflowLocked:
      break;
#endif
    case InjectedFault::kNone:
      break;
  }
}

TLocalTime FaultingClock::LocalTime() {
  if (!read_) {
    read_ = true;
    struct Mark {
      void (*leave)();
      ~Mark() {
        if (leave != nullptr && std::uncaught_exceptions() > 0) {
          leave();
        }
      }
    } mark{leave_mark_};
    CommitFault(fault_);
  }
  return inner_.LocalTime();
}

}  // namespace autobackup
