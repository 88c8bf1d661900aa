#include "scheduling/due_rules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <random>

#include "failure/failures.h"
#include "testing/expect_failure.h"

namespace autobackup {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

double At(uint16_t year, uint16_t month, uint16_t day, uint16_t hour = 0, uint16_t minute = 0) {
  return DateFromParts(year, month, day) + TimeFromParts(hour, minute, 0, 0);
}

DueDecision DecideFor(int32_t kind, int32_t interval, double last, double present) {
  return Decide({last, 0.0, kind, interval}, present);
}

template <class Failure>
void ExpectDecideFailure(int32_t kind, int32_t interval, double last, double present,
                         const char* message) {
  SCOPED_TRACE(testing::Message() << "kind " << kind << " interval " << interval << " last " << last
                                  << " present " << present);
  ExpectFailure<Failure>([&] { DecideFor(kind, interval, last, present); }, message);
}

// The definition the direct computation must agree with: count up from one month.
int32_t WholeMonthsPassedByCounting(double last, double present) {
  int32_t n = 1;
  while (!(AddMonths(last, n) > present)) {
    ++n;
  }
  return n - 1;
}

int32_t WholeMonthsPassed(double last, double present) {
  double passed;
  return autobackup::WholeMonthsPassed(MonthSteps(last), present, &passed);
}

// The direct computation and counting up give the same months, or fail alike.
void ExpectSameMonths(double last, double present) {
  SCOPED_TRACE(testing::Message() << "last " << last << " present " << present);
  bool counted_ok = true, direct_ok = true;
  int32_t counted = 0, direct = 0;
  try {
    counted = WholeMonthsPassedByCounting(last, present);
  } catch (const EConvertError&) {
    counted_ok = false;
  }
  try {
    direct = WholeMonthsPassed(last, present);
  } catch (const EConvertError&) {
    direct_ok = false;
  }
  EXPECT_EQ(direct_ok, counted_ok);
  EXPECT_EQ(direct, counted);
}

TEST(HourFraction, IsTheDecimalAtExtendedPrecisionNotOneTwentyFourth) {
  EXPECT_EQ(HourFraction, 0.041667L);
  EXPECT_NE(HourFraction, 1.0L / 24);
  uint64_t significand;
  std::memcpy(&significand, &HourFraction, sizeof significand);
  EXPECT_EQ(significand, 0xAAAB042528AE74F3u);
}

TEST(DecideHours, ThresholdIsTheExtendedSpan) {
  // Six hours are 0.250002 days; a double Elapsed does not in general equal that span.
  EXPECT_TRUE(DecideFor(kHours, 6, 0.0, 0.250002).Due);
  EXPECT_FALSE(DecideFor(kHours, 6, 0.0, 0.25000199999999995).Due);
  EXPECT_FALSE(DecideFor(kHours, 6, 0.0, 0.25).Due);
}

TEST(DecideHours, CountsHoursOfTheDecimalFraction) {
  // Four true hours are just under four counted hours: three are made up.
  const double last = At(2023, 3, 15);
  const double present = At(2023, 3, 15, 4);
  const DueDecision decision = DecideFor(kHours, 1, last, present);
  EXPECT_TRUE(decision.Due);
  EXPECT_EQ(ToDayStamp(decision.NewLastBackupDate).Milliseconds, 3 * 3600000 + 86);  // 03:00:00.086
  EXPECT_EQ(decision.NewLastBackupDate, 45000.125001);
}

TEST(DecideHours, TwentyFourHoursAreLongerThanADay) {
  const double last = At(2023, 3, 15);
  const double day_later = At(2023, 3, 16);
  EXPECT_FALSE(DecideFor(kHours, 24, last, day_later).Due);
  EXPECT_FALSE(DecideFor(kHours, 24, last, day_later + 0.6911 / 86400).Due);
  EXPECT_TRUE(DecideFor(kHours, 24, last, day_later + 0.6913 / 86400).Due);
}

TEST(DecideDaysAndWeeks, DueExactlyAtTheSpanAndNotAMillisecondBefore) {
  const double ms = 1.0 / 86400000;
  const struct {
    int32_t kind, interval;
    double span_days;
  } cases[] = {{kDays, 1, 1}, {kDays, 2, 2}, {kDays, 30, 30}, {kWeeks, 1, 7}, {kWeeks, 3, 21}};
  for (const auto& c : cases) {
    const double last = 45000.25;
    EXPECT_TRUE(DecideFor(c.kind, c.interval, last, last + c.span_days).Due) << c.kind;
    EXPECT_FALSE(DecideFor(c.kind, c.interval, last, last + c.span_days - ms).Due) << c.kind;
  }
}

TEST(DecideDaysAndWeeks, AdvanceByWholeIntervalsKeepingTheTimeOfDay) {
  const struct {
    int32_t kind, interval;
    double last, present, expected;
  } cases[] = {
      {kDays, 2, 100.25, 105.5, 104.25},
      {kDays, 1, 45000.75, 45000.75 + 3.9, 45003.75},
      {kWeeks, 1, 45000.5, 45000.5 + 20.5, 45014.5},
      {kWeeks, 2, 45000.5, 45000.5 + 41.9, 45028.5},
      {kDays, 7, -100.25, -50.0, -51.25},  // before the epoch the stored number still grows
  };
  for (const auto& c : cases) {
    const DueDecision decision = DecideFor(c.kind, c.interval, c.last, c.present);
    EXPECT_TRUE(decision.Due);
    EXPECT_EQ(decision.NewLastBackupDate, c.expected) << c.kind << " " << c.last;
  }
}

TEST(DecideMonths, WorkedExampleFromTheLastDayOfJanuary) {
  const DueDecision decision = DecideFor(kMonths, 2, At(2024, 1, 31, 10), At(2024, 5, 15));
  EXPECT_TRUE(decision.Due);
  EXPECT_EQ(decision.NewLastBackupDate, At(2024, 3, 31, 10));
}

TEST(DecideMonths, LeapDayStepsToTheTwentyEighthAndStaysThere) {
  DueDecision decision = DecideFor(kMonths, 12, At(2024, 2, 29), At(2025, 2, 28, 12));
  EXPECT_TRUE(decision.Due);
  EXPECT_EQ(decision.NewLastBackupDate, At(2025, 2, 28));
  decision = DecideFor(kMonths, 12, decision.NewLastBackupDate, At(2028, 2, 29, 12));
  EXPECT_EQ(decision.NewLastBackupDate, At(2028, 2, 28));
}

TEST(DecideMonths, AdvancesByWholeIntervalsOnly) {
  // Seven months passed with an interval of three: six are made up.
  const double last = At(2023, 1, 10, 8);
  const DueDecision decision = DecideFor(kMonths, 3, last, At(2023, 8, 20));
  EXPECT_TRUE(decision.Due);
  EXPECT_EQ(decision.NewLastBackupDate, At(2023, 7, 10, 8));
}

TEST(DecideMonths, ClampedStepThenMissedIntervalGivesTwoStartsOnConsecutiveTicks) {
  const double present = At(2023, 3, 29, 12);
  DueDecision decision = DecideFor(kMonths, 1, At(2023, 1, 31, 10), present);
  EXPECT_TRUE(decision.Due);
  EXPECT_EQ(decision.NewLastBackupDate, At(2023, 2, 28, 10));
  decision = DecideFor(kMonths, 1, decision.NewLastBackupDate, present + 1.0 / 86400);
  EXPECT_TRUE(decision.Due);
  EXPECT_EQ(decision.NewLastBackupDate, At(2023, 3, 28, 10));
}

TEST(DecideMonths, NotDueBeforeTheIntervalHasPassed) {
  const double last = At(2024, 1, 31, 10);
  EXPECT_FALSE(DecideFor(kMonths, 1, last, At(2024, 2, 29, 9, 59)).Due);
  EXPECT_TRUE(DecideFor(kMonths, 1, last, At(2024, 2, 29, 10)).Due);
  EXPECT_FALSE(DecideFor(kMonths, 2, last, At(2024, 3, 31, 9)).Due);
}

TEST(Decide, LastBackupInTheFutureIsNeverDue) {
  for (int32_t kind : kPeriodKinds) {
    EXPECT_FALSE(DecideFor(kind, 1, At(2024, 6, 1), At(2024, 5, 1)).Due) << kind;
  }
}

TEST(Decide, UnknownKindsAndIntervalsBelowOneAreNeverDueAndComputeNothing) {
  // Not even a damaged date fails: nothing is computed.
  for (double last : {45000.0, kNaN, -3e9}) {
    const int32_t past_the_last = std::size(kPeriodKinds);
    for (int32_t kind : {past_the_last, past_the_last + 1, -1, INT32_MIN, INT32_MAX}) {
      EXPECT_FALSE(DecideFor(kind, 1, last, 46000.0).Due);
    }
    for (int32_t kind : kPeriodKinds) {
      for (int32_t interval : {0, -1, INT32_MIN}) {
        EXPECT_FALSE(DecideFor(kind, interval, last, 46000.0).Due) << kind << " " << interval;
      }
    }
  }
}

TEST(Decide, DamagedLastBackupDateFailsInEveryKind) {
  for (int32_t kind : kPeriodKinds) {
    for (double last : {kNaN, kInf, -kInf}) {
      ExpectDecideFailure<EInvalidOp>(kind, 1, last, 46000.0, "Invalid floating point operation");
    }
    for (double last : {-3e9, -700000.0, -693594.0, 2958466.0, 3e6, 1e300, -1e300}) {
      ExpectDecideFailure<EConvertError>(kind, 1, last, 46000.0, "Invalid argument to date encode");
    }
  }
}

// Noon of 0001-01-01 lies below its midnight, as every time of a day before 1899-12-30 does.
TEST(Decide, LastBackupWithinTheCalendarsFirstDayIsADate) {
  for (int32_t kind : kPeriodKinds) {
    EXPECT_TRUE(DecideFor(kind, 1, kFirstDate - 0.5, 46000.0).Due) << kind;
  }
}

TEST(Decide, HugeWeekIntervalDoesNotWrapIntoADueSpan) {
  EXPECT_FALSE(DecideFor(kWeeks, INT32_MAX, 45000.0, 46000.0).Due);
  EXPECT_FALSE(DecideFor(kWeeks, 306783379, 45000.0, 46000.0).Due);  // 7x just past 2^31
}

TEST(DecideMonths, FailsWhereCountingUpWouldFail) {
  // The first step already leaves the calendar.
  ExpectDecideFailure<EConvertError>(kMonths, 1, At(9999, 12, 1), At(9999, 12, 5),
                                     "Invalid argument to date encode");
  // A present moment that no step passes.
  ExpectDecideFailure<EConvertError>(kMonths, 1, At(2024, 1, 1), kInf,
                                     "Invalid argument to date encode");
  ExpectDecideFailure<EConvertError>(kMonths, 1, At(2024, 1, 1), 1e12,
                                     "Invalid argument to date encode");
  ExpectDecideFailure<EInvalidOp>(kMonths, 1, At(2024, 1, 1), kNaN,
                                  "Invalid floating point operation");
  // The interval's own step leaves the calendar.
  ExpectDecideFailure<EConvertError>(kMonths, 200000, At(2024, 1, 1), At(2024, 3, 1),
                                     "Invalid argument to date encode");
  EXPECT_FALSE(DecideFor(kMonths, 1, At(2024, 1, 1), -kInf).Due);
}

TEST(DecideHours, NonFinitePresentFails) {
  ExpectDecideFailure<EInvalidOp>(kHours, 1, 45000.0, kNaN, "Invalid floating point operation");
  ExpectDecideFailure<EInvalidOp>(kDays, 1, 45000.0, kInf, "Invalid floating point operation");
  ExpectDecideFailure<EInvalidOp>(kWeeks, 1, 45000.0, -kInf, "Invalid floating point operation");
}

TEST(WholeMonthsPassed, AgreesWithCountingUpAroundTheCalendarsEdges) {
  const double edges[] = {At(2024, 1, 31, 10),
                          At(2024, 2, 29),
                          At(2023, 2, 28, 23, 59),
                          At(2000, 2, 29, 12),
                          At(1900, 2, 28),
                          At(1899, 12, 30, 6),
                          -0.25,
                          -1.75,
                          At(1, 1, 1),
                          At(1, 1, 31, 18),
                          At(9999, 1, 31),
                          45000.99999999537,
                          45000.99999999306};
  for (double last : edges) {
    for (double offset : {0.0, 0.5, 27.0, 28.0, 29.0, 30.0, 31.0, 59.5, 365.0, 366.0, 1461.0,
                          36524.25, 146097.0, 2.9e6}) {
      for (double nudge : {-1e-9, 0.0, 1e-9}) {
        const double present = last + offset + nudge;
        if (present > kLastDate) {
          continue;
        }
        ExpectSameMonths(last, present);
        if (HasFailure()) {
          return;
        }
      }
    }
  }
}

// Within half a millisecond of midnight a value splits as the next day, so the step that lands
// in the present's month by its split can be after the present, and so can the one before it;
// the last pair's present splits as 10000-01-01, where no step can go.
TEST(WholeMonthsPassed, AgreesWithCountingUpWhenBothRoundUpToTheNextDay) {
  const double later = 1 - 1e-9, earlier = 1 - 3e-9;  // both round up to the next day
  const struct {
    double last, present;
    int32_t months;
  } cases[] = {{At(2024, 1, 30) + later, At(2024, 4, 30) + earlier, 2},
               {At(2024, 1, 30) + earlier, At(2024, 4, 30) + later, 3},
               {At(2023, 1, 30) + later, At(2023, 2, 28) + earlier, 0},
               {At(9999, 10, 30) + later, At(9999, 12, 31) + earlier, 1}};
  for (const auto& c : cases) {
    ExpectSameMonths(c.last, c.present);
    EXPECT_EQ(WholeMonthsPassed(c.last, c.present), c.months) << c.last << " " << c.present;
  }
}

TEST(WholeMonthsPassed, AgreesWithCountingUpOverARandomSample) {
#ifdef _WIN32
  const int kCases = 2000;  // under Wine, a tenth
#else
  const int kCases = 20000;
#endif
  std::mt19937_64 random(20261207);
  std::uniform_real_distribution<double> anywhere(kFirstDate, kLastDate + 0.999);
  std::uniform_real_distribution<double> exponent(-3.0, std::log10(365.25 * 1000));
  for (int i = 0; i < kCases; ++i) {
    const double last = anywhere(random);
    const double gap = std::pow(10.0, exponent(random));
    const double present = last + gap;
    ExpectSameMonths(last, present);
    if (HasFailure()) {
      return;
    }
  }
}

// For every kind: a due decision moves the date by a whole number of intervals, never backwards
// and never past the present moment.
TEST(Decide, DueDecisionsLandOnTheLatestBoundaryNotAfterThePresent) {
  std::mt19937_64 random(7);
  std::uniform_int_distribution<int> day_of(0, 2958465 + 693593);
  std::uniform_int_distribution<int> millisecond_of(0, 86399999);
  std::uniform_int_distribution<size_t> kind_of(0, std::size(kPeriodKinds) - 1);
  std::uniform_int_distribution<int> interval_of(1, 40);
  std::uniform_real_distribution<double> gap_of(0.0, 400.0);
  int due = 0;
  for (int i = 0; i < 20000; ++i) {
    const double day = day_of(random) - 693593.0;
    const double time = millisecond_of(random) / 86400000.0;
    const double last = day >= 0 ? day + time : day - time;
    const double present = last + gap_of(random);
    const BackupPeriodKind kind = kPeriodKinds[kind_of(random)];
    const int32_t interval = interval_of(random);
    if (present > kLastDate - 400 || last < kFirstDate + 1) {
      continue;
    }
    SCOPED_TRACE(testing::Message() << "kind " << kind << " interval " << interval << " last "
                                    << last << " present " << present);
    const DueDecision decision = DecideFor(kind, interval, last, present);
    if (!decision.Due) {
      continue;
    }
    ++due;
    const double next = decision.NewLastBackupDate;
    ASSERT_GE(next, last);
    ASSERT_LE(next, present);
    const PeriodUnit period = UnitOf(kind);
    if (period.Months != 0) {
      const int32_t step = period.Months * interval;
      const int32_t months = WholeMonthsPassedByCounting(last, present) / step * step;
      ASSERT_EQ(next, AddMonths(last, months));
      ASSERT_GT(AddMonths(last, months + step), present);
      continue;
    }
    const long double intervals =
        (static_cast<long double>(next) - last) / (period.Days * interval);
    ASSERT_NEAR(static_cast<double>(intervals), std::round(static_cast<double>(intervals)), 1e-4);
    // The next boundary lies after the present moment (within the double's rounding).
    ASSERT_GT(next + period.Days * interval, present - 1e-6);
  }
  EXPECT_GT(due, 10000);
}

}  // namespace
}  // namespace autobackup
