// The fault build's switch: the fault is read from the argument, never from the program's path,
// and the clock stays a plain clock until its first read.
#include "e2e/faults/fault_injection.h"

#include <gtest/gtest.h>

#include "testing/fake/fake_clock.h"

namespace autobackup {
namespace {

TEST(InjectedFaultOfTest, TakesTheFirstArgumentAfterTheProgramPath) {
  const struct {
    const char* command_line;
    InjectedFault fault;
  } kCases[] = {
      {"C:\\run\\AutoBackupFaults.exe null-call", InjectedFault::kNullCall},
      {"C:\\run\\AutoBackupFaults.exe divide-by-zero", InjectedFault::kDivideByZero},
      {"x.exe \t divide-by-zero null-call", InjectedFault::kDivideByZero},
      {"\"C:\\my runs\\x.exe\" null-call", InjectedFault::kNullCall},
      {"\"C:\\my runs\\x.exe\"null-call", InjectedFault::kNullCall},
      {"x.exe stack-overflow-locked", InjectedFault::kStackOverflowLocked},
      {"x.exe stack-overflow", InjectedFault::kStackOverflow},
      {"x.exe terminate now", InjectedFault::kTerminate},
      // The path may hold the words themselves: only an argument counts.
      {"\"C:\\null-call dir\\x.exe\"", InjectedFault::kNone},
      {"\"C:\\a divide-by-zero\\x.exe\" null-call", InjectedFault::kNullCall},
      {"C:\\null-call\\x.exe", InjectedFault::kNone},
      {"\"C:\\unterminated null-call", InjectedFault::kNone},
      // Whole words only, spelled exactly.
      {"x.exe null-calls", InjectedFault::kNone},
      {"x.exe null", InjectedFault::kNone},
      {"x.exe Null-Call", InjectedFault::kNone},
      {"x.exe", InjectedFault::kNone},
      {"x.exe   ", InjectedFault::kNone},
      {"", InjectedFault::kNone},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(InjectedFaultOf(c.command_line), c.fault) << c.command_line;
  }
}

TEST(FaultingClockTest, WithoutAFaultEveryReadIsTheInnerClocks) {
  FakeClock inner;
  FaultingClock clock(inner, InjectedFault::kNone);
  EXPECT_EQ(inner.Reads(), 0);
  inner.Set({2031, 7, 2, 15, 23, 59, 58, 999});
  for (int read = 1; read <= 3; ++read) {
    const TLocalTime now = clock.LocalTime();
    EXPECT_EQ(inner.Reads(), read);
    EXPECT_EQ(now.Year, 2031);
    EXPECT_EQ(now.Day, 15);
    EXPECT_EQ(now.Milliseconds, 999);
  }
}

#if GTEST_HAS_DEATH_TEST && !defined(_WIN32)
// Under Wine the end-to-end scenarios see these faults reach the fatal report; here it is enough
// that the first read really faults and building the clock does not.
TEST(FaultingClockDeathTest, TheFirstReadFaults) {
  for (const InjectedFault fault : {InjectedFault::kNullCall, InjectedFault::kDivideByZero}) {
    FakeClock inner;
    FaultingClock clock(inner, fault);
    EXPECT_DEATH(clock.LocalTime(), "") << static_cast<int>(fault);
    EXPECT_EQ(inner.Reads(), 0);
  }
}
#endif

}  // namespace
}  // namespace autobackup
