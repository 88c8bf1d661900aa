#include "calendar/calendar.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "failure/failures.h"
#include "testing/expect_failure.h"
#include "testing/fake/fake_clock.h"

namespace autobackup {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

void ExpectDateEncodeFailure(TSerialDateTime value, int32_t count) {
  SCOPED_TRACE(testing::Message() << "AddMonths(" << value << ", " << count << ")");
  ExpectFailure<EConvertError>([&] { AddMonths(value, count); }, "Invalid argument to date encode");
}

struct Ymd {
  uint16_t year, month, day;
};

Ymd Split(TSerialDateTime value) {
  Ymd date;
  SplitDate(value, date.year, date.month, date.day);
  return date;
}

TEST(DateFromParts, CountsDaysFromTheEpoch) {
  const struct {
    Ymd date;
    double value;
  } cases[] = {
      {{1899, 12, 30}, 0.0},       {{1900, 1, 1}, 2.0},      {{1900, 3, 1}, 61.0},
      {{2000, 2, 29}, 36585.0},    {{2024, 1, 31}, 45322.0}, {{1, 1, 1}, -693593.0},
      {{9999, 12, 31}, 2958465.0}, {{1899, 12, 29}, -1.0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DateFromParts(c.date.year, c.date.month, c.date.day), c.value)
        << c.date.year << "-" << c.date.month << "-" << c.date.day;
  }
}

TEST(DateFromParts, RejectsFieldsOutsideTheCalendar) {
  const Ymd invalid[] = {{1900, 2, 29}, {2023, 2, 29}, {0, 1, 1},     {10000, 1, 1},  {2024, 0, 1},
                         {2024, 13, 1}, {2024, 1, 0},  {2024, 4, 31}, {65535, 12, 31}};
  for (const auto& d : invalid) {
    SCOPED_TRACE(testing::Message() << d.year << "-" << d.month << "-" << d.day);
    ExpectFailure<EConvertError>([&] { DateFromParts(d.year, d.month, d.day); },
                                 "Invalid argument to date encode");
  }
}

TEST(DateFromParts, RoundTripsThroughSplitDateForEveryDayOfTheCalendar) {
  double expected = kFirstDate;
  for (uint16_t year = 1; year <= 9999; ++year) {
    for (uint16_t month = 1; month <= 12; ++month) {
      for (uint16_t day = 1; day <= DaysInMonth(year, month); ++day) {
        const TSerialDateTime value = DateFromParts(year, month, day);
        ASSERT_EQ(value, expected) << year << "-" << month << "-" << day;
        // Midday of the same date: the time of day lies away from zero.
        const Ymd back = Split(value >= 0 ? value + 0.5 : value - 0.5);
        ASSERT_TRUE(back.year == year && back.month == month && back.day == day)
            << year << "-" << month << "-" << day;
        const Ymd midnight = Split(value);
        ASSERT_TRUE(midnight.year == year && midnight.month == month && midnight.day == day);
        expected += 1;
      }
    }
  }
  EXPECT_EQ(expected - 1, kLastDate);
}

TEST(YearHasLeapDay, FollowsTheGregorianRule) {
  EXPECT_TRUE(YearHasLeapDay(2024));
  EXPECT_TRUE(YearHasLeapDay(2000));
  EXPECT_TRUE(YearHasLeapDay(0));
  EXPECT_FALSE(YearHasLeapDay(1900));
  EXPECT_FALSE(YearHasLeapDay(2023));
  EXPECT_FALSE(YearHasLeapDay(2100));
}

TEST(TimeFromParts, IsThePartOfADayRoundedTwice) {
  // Expected values: the exact quotient rounded to a 64-bit significand, then to a double.
  EXPECT_EQ(TimeFromParts(0, 0, 0, 0), 0.0);
  EXPECT_EQ(TimeFromParts(6, 0, 0, 0), 0.25);
  EXPECT_EQ(TimeFromParts(12, 0, 0, 0), 0.5);
  EXPECT_EQ(TimeFromParts(23, 59, 59, 999), 0.999999988425926);
  EXPECT_LT(TimeFromParts(23, 59, 59, 999), 1.0);
}

TEST(TimeFromParts, RejectsFieldsOutsideTheDay) {
  const uint16_t invalid[][4] = {{24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0}, {0, 0, 0, 1000}};
  for (const auto& t : invalid) {
    ExpectFailure<EConvertError>([&] { TimeFromParts(t[0], t[1], t[2], t[3]); },
                                 "Invalid argument to time encode");
  }
}

TEST(ToDayStamp, RoundsToTheMillisecondAndCountsAwayFromTheEpoch) {
  const struct {
    double value;
    int32_t day_number, milliseconds;
  } cases[] = {
      {0.0, 693594, 0},
      {-1.25, 693593, 21600000},
      {-0.5, 693594, 43200000},  // the same moment as 0.5
      {0.5, 693594, 43200000},
      {45000.99999999537, 738595, 0},         // 0.4 ms before midnight: the next day
      {45000.99999999306, 738594, 86399999},  // 0.6 ms before midnight: still this day
      {-693593.0, 1, 0},
  };
  for (const auto& c : cases) {
    const TDayStamp stamp = ToDayStamp(c.value);
    EXPECT_EQ(stamp.DayNumber, c.day_number) << c.value;
    EXPECT_EQ(stamp.Milliseconds, c.milliseconds) << c.value;
  }
}

TEST(SplitDate, DecodesNegativeValuesAndMomentsBeforeTheCalendar) {
  const struct {
    double value;
    Ymd date;
  } cases[] = {
      {-1.25, {1899, 12, 29}},
      {-0.5, {1899, 12, 30}},
      {-693594.0, {0, 0, 0}},
      {-693593.0, {1, 1, 1}},
      {-693593.5, {1, 1, 1}},
      {-693594.5, {0, 0, 0}},
      {2958465.75, {9999, 12, 31}},
      {2958466.0, {10000, 1, 1}},
      {45000.99999999537, {2023, 3, 16}},
      {45000.99999999306, {2023, 3, 15}},
      {36585.0, {2000, 2, 29}},
      {36891.0, {2000, 12, 31}},
  };
  for (const auto& c : cases) {
    const Ymd date = Split(c.value);
    EXPECT_TRUE(date.year == c.date.year && date.month == c.date.month && date.day == c.date.day)
        << c.value << " gave " << date.year << "-" << date.month << "-" << date.day;
  }
}

TEST(SplitDate, FailsForValuesWithNoDecoding) {
  ExpectFailure<EInvalidOp>([] { Split(kNaN); }, "Invalid floating point operation");
  ExpectFailure<EInvalidOp>([] { Split(kInf); }, "Invalid floating point operation");
  ExpectFailure<EInvalidOp>([] { Split(-1e300); }, "Invalid floating point operation");
  // Beyond 65535-12-31 a year has no 16-bit form; beyond 2^31 days no 32-bit day number.
  ExpectFailure<EConvertError>([] { Split(23242573.0); }, "Invalid argument to date encode");
  ExpectFailure<EConvertError>([] { Split(-2148177243.0); }, "Invalid argument to date encode");
  EXPECT_EQ(Split(23242572.0).year, 65535);
  EXPECT_EQ(Split(-2148177242.0).year, 0);
}

TEST(AddMonths, StepsByCalendarMonthsAndClampsTheDay) {
  const struct {
    Ymd from;
    int32_t count;
    Ymd to;
  } cases[] = {
      {{2024, 1, 31}, 1, {2024, 2, 29}},     {{2023, 1, 31}, 1, {2023, 2, 28}},
      {{2024, 1, 31}, 2, {2024, 3, 31}},     {{2024, 10, 31}, 1, {2024, 11, 30}},
      {{2024, 2, 29}, 12, {2025, 2, 28}},    {{2024, 2, 29}, 48, {2028, 2, 29}},
      {{2024, 3, 31}, -1, {2024, 2, 29}},    {{2024, 1, 15}, -1, {2023, 12, 15}},
      {{2024, 12, 15}, 1, {2025, 1, 15}},    {{2024, 1, 10}, -12, {2023, 1, 10}},
      {{2024, 1, 10}, -13, {2022, 12, 10}},  {{2024, 1, 10}, 13, {2025, 2, 10}},
      {{2024, 12, 31}, -11, {2024, 1, 31}},  {{1, 1, 1}, 119987, {9999, 12, 1}},
      {{9999, 12, 31}, -119987, {1, 1, 31}}, {{2000, 2, 29}, -1200, {1900, 2, 28}},
  };
  for (const auto& c : cases) {
    const double from = DateFromParts(c.from.year, c.from.month, c.from.day);
    EXPECT_EQ(AddMonths(from, c.count), DateFromParts(c.to.year, c.to.month, c.to.day))
        << c.from.year << "-" << c.from.month << "-" << c.from.day << " + " << c.count;
  }
}

TEST(AddMonths, CarriesTheTimeOfDayUnderTheSignConvention) {
  const struct {
    double value;
    int32_t count;
    double expected;
  } cases[] = {
      {45322.770833333336, 1, 45351.770833333336},  // 31 January 2024 18:30
      {-1.25, 1, 30.25},
      {0.25, -1, -30.25},
      {-0.25, 1, 31.25},
      {-0.25, 0, 0.25},  // decodes to 1899-12-30, whose stepped date is 0.0
      {45000.5, 0, 45000.5},
      {45000.99999999537, 0, 45001.99999999537},  // already the next day after rounding
      {45000.99999999306, 0, 45000.99999999306},
      {-36500.75, 12, -36135.75},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AddMonths(c.value, c.count), c.expected) << c.value << " + " << c.count;
  }
}

TEST(AddMonths, FailsWhenTheStepLeavesTheCalendar) {
  ExpectDateEncodeFailure(DateFromParts(9999, 12, 15), 1);
  ExpectDateEncodeFailure(DateFromParts(1, 1, 15), -1);
  for (int32_t count : {-1, 0, 1, 1000}) {
    ExpectDateEncodeFailure(-700000.0, count);  // a moment before 0001-01-01
  }
  // Counts that would wrap a 16-bit year back into range fail instead.
  ExpectDateEncodeFailure(DateFromParts(2024, 1, 1), 65536 * 12);
  ExpectDateEncodeFailure(DateFromParts(2024, 1, 1), INT32_MAX);
  ExpectDateEncodeFailure(DateFromParts(2024, 1, 1), INT32_MIN);
  ExpectDateEncodeFailure(1e9, -1);
  ExpectFailure<EInvalidOp>([] { AddMonths(kNaN, 1); }, "Invalid floating point operation");
  ExpectFailure<EInvalidOp>([] { AddMonths(-kInf, 1); }, "Invalid floating point operation");
}

TEST(AddMonths, StepsBackIntoTheCalendarFromBeyondIt) {
  // Only the result is validated: 10000-01-15 minus one month is a valid date.
  EXPECT_EQ(AddMonths(DateFromParts(9999, 12, 15) + 31, -1), DateFromParts(9999, 12, 15));
}

TEST(WholePart, TruncatesTowardZeroAndKeepsSpecialValues) {
  EXPECT_EQ(WholePart(2.7L), 2.0L);
  EXPECT_EQ(WholePart(-2.7L), -2.0L);
  EXPECT_EQ(WholePart(0x1p63L + 1024), 0x1p63L + 1024);
  EXPECT_EQ(WholePart(std::numeric_limits<long double>::infinity()),
            std::numeric_limits<long double>::infinity());
  EXPECT_TRUE(std::isnan(WholePart(std::numeric_limits<long double>::quiet_NaN())));
  ExpectFailure<EInvalidOp>([] { WholePart(std::numeric_limits<long double>::signaling_NaN()); },
                            "Invalid floating point operation");
}

TEST(FractionPart, KeepsTheSignOfItsArgument) {
  EXPECT_EQ(FractionPart(-2.75L), -0.75L);
  EXPECT_EQ(FractionPart(2.75L), 0.75L);
  EXPECT_EQ(FractionPart(45322.25L), 0.25L);
  EXPECT_EQ(FractionPart(-0.0L), 0.0L);
}

TEST(RoundToInt64, RoundsHalfwayCasesToEven) {
  const struct {
    long double x;
    int64_t expected;
  } cases[] = {{2.5L, 2},
               {3.5L, 4},
               {-2.5L, -2},
               {-3.5L, -4},
               {0.5L, 0},
               {1.5L, 2},
               {-0.49L, 0},
               {-0x1p63L, INT64_MIN},
               {0x1p63L - 1, INT64_MAX},
               {4294967301.0L, 4294967301}};
  for (const auto& c : cases) {
    EXPECT_EQ(RoundToInt64(c.x), c.expected) << static_cast<double>(c.x);
  }
  // A caller that needs 32 bits keeps the low ones.
  EXPECT_EQ(static_cast<int32_t>(static_cast<uint32_t>(RoundToInt64(4294967301.0L))), 5);
}

TEST(RoundToInt64, FailsOutsideTheSigned64BitRange) {
  const long double invalid[] = {std::numeric_limits<long double>::quiet_NaN(),
                                 std::numeric_limits<long double>::infinity(),
                                 -std::numeric_limits<long double>::infinity(),
                                 0x1p63L,
                                 -0x1p63L - 1,
                                 1e30L};
  for (long double x : invalid) {
    ExpectFailure<EInvalidOp>([&] { RoundToInt64(x); }, "Invalid floating point operation");
  }
}

TEST(CurrentDateTime, EncodesTheClockToTheMillisecond) {
  FakeClock clock;
  clock.Set({2024, 1, 3, 31, 18, 30, 0, 0});
  EXPECT_EQ(CurrentDateTime(clock), 45322.770833333336);
  clock.Set({2023, 3, 3, 15, 23, 59, 59, 999});
  EXPECT_EQ(ToDayStamp(CurrentDateTime(clock)).Milliseconds, 86399999);
  EXPECT_EQ(Split(CurrentDateTime(clock)).day, 15);
}

TEST(CurrentDateTime, FailsForAClockBeyondTheCalendar) {
  FakeClock clock;
  clock.Set({10000, 1, 0, 1, 0, 0, 0, 0});
  ExpectFailure<EConvertError>([&] { CurrentDateTime(clock); }, "Invalid argument to date encode");
  clock.Set({2024, 1, 0, 1, 24, 0, 0, 0});
  ExpectFailure<EConvertError>([&] { CurrentDateTime(clock); }, "Invalid argument to time encode");
}

}  // namespace
}  // namespace autobackup
