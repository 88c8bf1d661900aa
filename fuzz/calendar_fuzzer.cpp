// Fuzz target: month stepping, date decoding and the two encoders on any input, each held to an
// independent count of the proleptic Gregorian calendar: the same dates, the same failures.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "calendar/calendar.h"
#include "calendar/extended.h"
#include "fuzz/fuzz_support.h"

namespace autobackup::fuzz {
namespace {

// Days from 1970-01-01 by era arithmetic, a count that shares nothing with the code under test.
constexpr int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t year_of_era = y - era * 400;
  const int64_t day_of_year = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int64_t& m, int64_t& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t day_of_era = z - era * 146097;
  const int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t mp = (5 * day_of_year + 2) / 153;
  d = day_of_year - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = year_of_era + era * 400 + (m <= 2);
}

constexpr int64_t kEpoch = DaysFromCivil(1899, 12, 30);
constexpr int64_t kDayNumberOfEpoch = 693594;
constexpr int64_t kMsPerDay = 86400000;
// The last day whose year a 16-bit field can hold: 65535-12-31.
constexpr int64_t kLastDecodable = DaysFromCivil(65535, 12, 31) - kEpoch + kDayNumberOfEpoch;
static_assert(DaysFromCivil(1900, 1, 1) - kEpoch == 2 && kLastDecodable == 23936166);

int64_t MonthLength(int64_t y, int64_t m) {
  constexpr int kLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
  return m == 2 && leap ? 29 : kLengths[m - 1];
}

// What decoding a value must give: a date, no date (before 0001-01-01), or a failure type.
struct Expected {
  std::string failure;  // empty when there is a result
  int64_t year = 0, month = 0, day = 0;
  int64_t day_number = 0, milliseconds = 0;
};

Expected Decode(double x) {
  Expected e;
  if (!std::isfinite(x)) {
    e.failure = "EInvalidOp";
    return e;
  }
  const long double ms = std::nearbyint(static_cast<long double>(x) * kMsPerDay);
  if (!(ms >= -0x1p63L && ms < 0x1p63L)) {
    e.failure = "EInvalidOp";
    return e;
  }
  const auto m = static_cast<int64_t>(ms);
  // Whole days toward zero, the millisecond of the day counted from the epoch's side.
  e.day_number = kDayNumberOfEpoch + m / kMsPerDay;
  e.milliseconds = (m < 0 ? -(m % kMsPerDay) : m % kMsPerDay);
  if (e.day_number < INT32_MIN || e.day_number > INT32_MAX || e.day_number > kLastDecodable) {
    e.failure = "EConvertError";  // no defined decoding: refused, never wrapped
  } else if (e.day_number > 0) {
    CivilFromDays(e.day_number - kDayNumberOfEpoch + kEpoch, e.year, e.month, e.day);
  }
  return e;
}

template <class Operation>
std::string FailureOf(Operation operation) {
  try {
    operation();
  } catch (const Exception& failure) {
    RequireAllowed(failure, {"EInvalidOp", "EConvertError"});
    return failure.TypeName();
  }
  return {};
}

void CheckSplitDate(double x) {
  const Expected e = Decode(x);
  int32_t day_number = 0, milliseconds = 0;
  const std::string stamp_failure = FailureOf([&] {
    const TDayStamp stamp = ToDayStamp(x);
    day_number = stamp.DayNumber;
    milliseconds = stamp.Milliseconds;
  });
  // Day numbers past 65535-12-31 still fit the stamp; only the year cannot be named.
  const bool stamp_fits =
      e.failure.empty() ||
      (e.failure == "EConvertError" && e.day_number >= INT32_MIN && e.day_number <= INT32_MAX);
  if (stamp_fits) {
    FUZZ_REQUIRE(stamp_failure.empty(), "ToDayStamp(%.17g) raised %s", x, stamp_failure.c_str());
    FUZZ_REQUIRE(day_number == e.day_number && milliseconds == e.milliseconds,
                 "ToDayStamp(%.17g) = day %d ms %d, expected day %.0f ms %.0f", x, day_number,
                 milliseconds, static_cast<double>(e.day_number),
                 static_cast<double>(e.milliseconds));
  } else {
    FUZZ_REQUIRE(stamp_failure == e.failure, "ToDayStamp(%.17g) gave '%s', expected %s", x,
                 stamp_failure.c_str(), e.failure.c_str());
  }
  uint16_t y = 0, m = 0, d = 0;
  const std::string failure = FailureOf([&] { SplitDate(x, y, m, d); });
  // So far before the epoch that the stamp cannot count the days: no date is as good an answer
  // as a refusal.
  if (e.day_number < INT32_MIN && failure.empty() && y == 0 && m == 0 && d == 0) {
    return;
  }
  FUZZ_REQUIRE(failure == e.failure, "SplitDate(%.17g) gave '%s', expected '%s'", x,
               failure.c_str(), e.failure.c_str());
  if (failure.empty()) {
    FUZZ_REQUIRE(y == e.year && m == e.month && d == e.day,
                 "SplitDate(%.17g) = %u-%u-%u, expected %.0f-%.0f-%.0f", x, y, m, d,
                 static_cast<double>(e.year), static_cast<double>(e.month),
                 static_cast<double>(e.day));
  }
}

void CheckAddMonths(double x, int32_t count) {
  const Expected from = Decode(x);
  std::string expected_failure = from.failure;
  double expected = 0;
  if (expected_failure.empty()) {
    const int64_t target = from.year * 12 + (from.month - 1) + count;
    const int64_t year = target >= 0 ? target / 12 : -((11 - target) / 12);
    const int64_t month = target - year * 12 + 1;
    if (from.year == 0 || year < 1 || year > 9999) {
      expected_failure = "EConvertError";
    } else {
      const int64_t day = std::min(from.day, MonthLength(year, month));
      const auto date = static_cast<long double>(DaysFromCivil(year, month, day) - kEpoch);
      const long double time = std::fabs(static_cast<long double>(x) - std::trunc(x));
      expected = static_cast<double>(date >= 0 ? date + time : date - time);
    }
  }
  double result = 0;
  const std::string failure = FailureOf([&] { result = AddMonths(x, count); });
  FUZZ_REQUIRE(failure == expected_failure, "AddMonths(%.17g, %d) gave '%s', expected '%s'", x,
               count, failure.c_str(), expected_failure.c_str());
  if (failure.empty()) {
    FUZZ_REQUIRE(ToBits(result) == ToBits(expected), "AddMonths(%.17g, %d) = %.17g, expected %.17g",
                 x, count, result, expected);
  }
}

void CheckDateFromParts(uint16_t y, uint16_t m, uint16_t d) {
  const bool valid = y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= MonthLength(y, m);
  double result = 0;
  const std::string failure = FailureOf([&] { result = DateFromParts(y, m, d); });
  FUZZ_REQUIRE(failure == (valid ? "" : "EConvertError"), "DateFromParts(%u, %u, %u) gave '%s'", y,
               m, d, failure.c_str());
  if (valid) {
    const auto expected = static_cast<double>(DaysFromCivil(y, m, d) - kEpoch);
    FUZZ_REQUIRE(result == expected, "DateFromParts(%u, %u, %u) = %.17g, expected %.17g", y, m, d,
                 result, expected);
  }
}

void CheckTimeFromParts(uint16_t h, uint16_t mi, uint16_t s, uint16_t ms) {
  const bool valid = h < 24 && mi < 60 && s < 60 && ms < 1000;
  double result = 0;
  const std::string failure = FailureOf([&] { result = TimeFromParts(h, mi, s, ms); });
  FUZZ_REQUIRE(failure == (valid ? "" : "EConvertError"), "TimeFromParts(%u, %u, %u, %u) gave '%s'",
               h, mi, s, ms, failure.c_str());
  if (valid) {
    const int32_t count = ((h * 60 + mi) * 60 + s) * 1000 + ms;
    const TDayStamp stamp = ToDayStamp(result);
    FUZZ_REQUIRE(result >= 0 && result < 1 && stamp.Milliseconds == count &&
                     stamp.DayNumber == kDayNumberOfEpoch,
                 "TimeFromParts(%u, %u, %u, %u) = %.17g does not decode to millisecond %d", h, mi,
                 s, ms, result, count);
  }
}

// Input: shape flags, a value, a month count, year, month, day, hour, minute, second and
// millisecond, little-endian. Each flag narrows a field to where its boundaries lie.
constexpr uint8_t kValueInCalendar = 1;
constexpr uint8_t kSmallCount = 2;
constexpr uint8_t kFieldsNearRange = 4;

}  // namespace
}  // namespace autobackup::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace autobackup::fuzz;
  Input in(data, size);
  const uint8_t shape = in.Byte();
  const uint64_t value_bits = in.U64();
  const double x = shape & kValueInCalendar ? CalendarValue(value_bits) : FromBits(value_bits);
  const auto count_bits = static_cast<int32_t>(in.U32());
  const int32_t count = shape & kSmallCount ? count_bits % 1201 : count_bits;
  uint16_t fields[7];
  for (uint16_t& field : fields) {
    field = in.U16();
  }
  if (shape & kFieldsNearRange) {
    const uint16_t limits[7] = {10001, 14, 33, 25, 61, 61, 1001};
    for (int i = 0; i < 7; ++i) {
      fields[i] %= limits[i];
    }
  }
  CheckSplitDate(x);
  CheckAddMonths(x, count);
  CheckDateFromParts(fields[0], fields[1], fields[2]);
  CheckTimeFromParts(fields[3], fields[4], fields[5], fields[6]);
  return 0;
}
