// Test builds only: a clock that commits a genuine processor fault on its first read, so the
// whole program's fault path can be seen end to end. Never part of AutoBackup.exe.
#pragma once

#include "platform/clock.h"

namespace autobackup {

enum class InjectedFault { kNone, kNullCall, kDivideByZero, kLibraryNullRead };

// The fault named by the first argument of a Windows command line ("null-call",
// "divide-by-zero" or "library-null-read"); the program's path comes first, quoted or not. kNone
// for anything else.
InjectedFault InjectedFaultOf(const char* command_line);

// Commits the fault for real: a call through a null code pointer, an integer division by zero,
// or a null pointer handed to the C library's strlen (a fault inside a system library). kNone
// does nothing.
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
