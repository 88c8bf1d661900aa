#include "e2e/tools/fault_injection.h"

#include <cstring>
#include <exception>
#include <string>

namespace autobackup {
namespace {

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
  if (word == "null-call") {
    return InjectedFault::kNullCall;
  }
  if (word == "divide-by-zero") {
    return InjectedFault::kDivideByZero;
  }
  if (word == "library-null-read") {
    return InjectedFault::kLibraryNullRead;
  }
  return InjectedFault::kNone;
}

// Kept out of line so that the faulting instruction lies in a function of its own name.
__attribute__((noinline)) void CommitFault(InjectedFault fault) {
  switch (fault) {
    case InjectedFault::kNullCall: {
      // volatile: the compiler must emit the call, not reason about the null.
      void (*volatile target)() = nullptr;
      target();
      break;
    }
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
