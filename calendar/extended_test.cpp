#include "calendar/extended.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "failure/failures.h"
#include "testing/expect_failure.h"

namespace autobackup {
namespace {

using Limits = std::numeric_limits<long double>;

constexpr const char* kInvalid = "Invalid floating point operation";

// The x87 control word in force now.
uint16_t FpuControlWord() {
  uint16_t word;
  __asm__ volatile("fnstcw %0" : "=m"(word));
  return word;
}

TEST(Extended, ControlWordGivesA64BitSignificandRoundedToNearest) {
  LoadDefaultFpuControlWord();
  // Bit 6 is reserved and reads back as 1.
  EXPECT_EQ(FpuControlWord() & ~0x40, kDefaultFpuControlWord);
  volatile long double tiny = 0x1p-60L;
  EXPECT_EQ(Subtract(Add(1.0L, tiny), 1.0L), 0x1p-60L);  // would vanish with 53 bits
  // 1 + 2^-64 is halfway between 1 and the next extended value: ties go to even.
  EXPECT_EQ(Add(1.0L, 0x1p-64L), 1.0L);
  EXPECT_EQ(Add(1.0L + 0x1p-63L, 0x1p-64L), 1.0L + 0x1p-62L);
}

TEST(Extended, NarrowingRoundsTwiceLikeTheHardware) {
  // 1 + 2^-53 + 2^-64 is nearer to 1 + 2^-52 than to 1, but as a 64-bit significand it
  // first becomes 1 + 2^-53, the exact halfway point, which then goes to even: 1.
  const long double value = Add(1.0L + 0x1p-53L, 0x1p-64L);
  EXPECT_EQ(Narrow(value), 1.0);
}

TEST(Extended, DivisionByZeroFailsByKind) {
  ExpectFailure<EZeroDivide>([] { Divide(1.0L, 0.0L); }, "Floating point division by zero");
  ExpectFailure<EZeroDivide>([] { Divide(-5.0L, -0.0L); }, "Floating point division by zero");
  ExpectFailure<EInvalidOp>([] { Divide(0.0L, 0.0L); }, kInvalid);
  ExpectFailure<EInvalidOp>([] { Divide(Limits::infinity(), Limits::infinity()); }, kInvalid);
  EXPECT_EQ(Divide(Limits::infinity(), 0.0L), Limits::infinity());
  EXPECT_TRUE(std::isnan(Divide(Limits::quiet_NaN(), 0.0L)));
}

TEST(Extended, InvalidOperationsFail) {
  ExpectFailure<EInvalidOp>([] { Subtract(Limits::infinity(), Limits::infinity()); }, kInvalid);
  ExpectFailure<EInvalidOp>([] { Add(Limits::infinity(), -Limits::infinity()); }, kInvalid);
  ExpectFailure<EInvalidOp>([] { Multiply(0.0L, Limits::infinity()); }, kInvalid);
  ExpectFailure<EInvalidOp>([] { Add(Limits::signaling_NaN(), 1.0L); }, kInvalid);
  ExpectFailure<EInvalidOp>([] { Extend(std::numeric_limits<double>::signaling_NaN()); }, kInvalid);
  ExpectFailure<EInvalidOp>([] { Narrow(Limits::signaling_NaN()); }, kInvalid);
  // Any NaN in a comparison fails, a quiet one included.
  ExpectFailure<EInvalidOp>([] { Less(Limits::quiet_NaN(), 1.0L); }, kInvalid);
  ExpectFailure<EInvalidOp>([] { LessOrEqual(1.0L, Limits::quiet_NaN()); }, kInvalid);
}

TEST(Extended, QuietNaNsAndInfinitiesPassThroughArithmetic) {
  EXPECT_TRUE(std::isnan(Add(Limits::quiet_NaN(), 1.0L)));
  EXPECT_TRUE(std::isnan(Extend(std::numeric_limits<double>::quiet_NaN())));
  EXPECT_EQ(Add(Limits::infinity(), 1.0L), Limits::infinity());
  EXPECT_TRUE(Less(-Limits::infinity(), Limits::lowest()));
}

TEST(Extended, OverflowFails) {
  ExpectFailure<EOverflow>([] { Multiply(Limits::max(), 2.0L); }, "Floating point overflow");
  ExpectFailure<EOverflow>([] { Divide(1.0L, Limits::denorm_min()); }, "Floating point overflow");
  // Too large for a double, though not for the extended format.
  ExpectFailure<EOverflow>([] { Narrow(1e309L); }, "Floating point overflow");
  ExpectFailure<EOverflow>([] { Narrow(Subtract(-1.7e308L, 1.7e308L)); },
                           "Floating point overflow");
  // Underflow stays masked: the result is a denormal or zero, silently.
  EXPECT_EQ(Narrow(1e-4000L), 0.0);
  EXPECT_GT(Narrow(1e-310L), 0.0);
}

TEST(Extended, SignallingNaNsAreTellable) {
  EXPECT_TRUE(IsSignallingNaN(std::numeric_limits<double>::signaling_NaN()));
  EXPECT_FALSE(IsSignallingNaN(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(IsSignallingNaN(std::numeric_limits<double>::infinity()));
  EXPECT_TRUE(IsSignallingNaN(Limits::signaling_NaN()));
  EXPECT_FALSE(IsSignallingNaN(Limits::quiet_NaN()));
}

}  // namespace
}  // namespace autobackup
