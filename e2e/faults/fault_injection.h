// Test builds only: a clock that commits a genuine processor fault on its first read, so the
// whole program's fault path can be seen end to end. Never part of AutoBackup.exe.
#pragma once

#include "platform/clock.h"

namespace autobackup {

enum class InjectedFault {
  kNone,
  kNullCall,
  kDivideByZero,
  kLibraryNullRead,
  kNoexceptDivide,      // a division by zero in a function that must not throw
  kFaultInCleanup,      // a division by zero whose unwinding faults again in a destructor
  kTerminate,           // a rethrow with no failure in flight
  kUncaughtFailure,     // a failure raised on a thread that catches nothing (Windows only)
  kSecondThreadFault,   // a division by zero on such a thread (Windows only)
  kRuntimeDivide,       // a division by zero inside the statically linked runtime's division
  kFaultComposing,      // a failure whose type name faults when the report asks for it
  kStackOverflow,       // unbounded recursion (Windows only)
  kStackOverflowLocked  // the same with the process heap locked (Windows only)
};

// The fault named by the first argument of a Windows command line (the words are listed in
// fault_injection.cpp); the program's path comes first, quoted or not. kNone for anything else.
InjectedFault InjectedFaultOf(const char* command_line);

// Commits the fault for real: a call through a null code pointer, an integer division by zero,
// a null pointer handed to the C library's strlen (a fault inside a system library), and so on
// as listed above. kNone does nothing.
void CommitFault(InjectedFault fault);

// Hands reads on to `inner`, except that the first read commits `fault` first. When the fault
// leaves the read as a failure, unwinding, `leave_mark` is called on the way out: a mark the
// scenarios can see that cleanups ran.
class FaultingClock : public Clock {
 public:
  FaultingClock(Clock& inner, InjectedFault fault, void (*leave_mark)() = nullptr)
      : inner_(inner), fault_(fault), leave_mark_(leave_mark) {}
  TLocalTime LocalTime() override;

 private:
  Clock& inner_;
  InjectedFault fault_;
  void (*leave_mark_)();
  bool read_ = false;
};

}  // namespace autobackup
