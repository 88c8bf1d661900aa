// Test builds only: a clock that commits a genuine processor fault on its first read, so the
// whole program's fault path can be seen end to end. Never part of AutoBackup.exe.
#pragma once

#include "platform/clock.h"

namespace autobackup {

enum class InjectedFault { kNone, kNullCall, kDivideByZero };

// The fault named by the first argument of a Windows command line ("null-call" or
// "divide-by-zero"); the program's path comes first, quoted or not. kNone for anything else.
InjectedFault InjectedFaultOf(const char* command_line);

// Commits the fault for real: a call through a null code pointer, or an integer division by zero.
// kNone does nothing.
void CommitFault(InjectedFault fault);

// Hands reads on to `inner`, except that the first read commits `fault` first.
class FaultingClock : public Clock {
 public:
  FaultingClock(Clock& inner, InjectedFault fault) : inner_(inner), fault_(fault) {}
  TLocalTime LocalTime() override;

 private:
  Clock& inner_;
  InjectedFault fault_;
  bool read_ = false;
};

}  // namespace autobackup
