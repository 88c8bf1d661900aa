#include "calendar/calendar.h"

#include <cmath>

#include "calendar/extended.h"
#include "failure/failures.h"

namespace autobackup {

namespace {

constexpr uint16_t kMonthLengths[2][12] = {
    {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
    {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
};
// Days of the year before each month.
constexpr uint16_t kDaysBeforeMonth[2][12] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335},
};

constexpr int32_t kDaysPer400Years = 146097;
constexpr int32_t kDaysPer100Years = 36524;
constexpr int32_t kDaysPer4Years = 1461;
constexpr int32_t kDaysPerYear = 365;
// DayNumber of 65535-12-31, the last day a 16-bit year can name.
constexpr int32_t kLastDecodableDayNumber = 23936166;

[[noreturn]] void RaiseDateEncode() {
  Raise<EConvertError>(StringId::DateEncodeError);
}

}  // namespace

bool YearHasLeapDay(uint16_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

uint16_t DaysInMonth(uint16_t year, uint16_t month) {
  return kMonthLengths[YearHasLeapDay(year) ? 1 : 0][month - 1];
}

TSerialDateTime DateFromParts(uint16_t year, uint16_t month, uint16_t day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    RaiseDateEncode();
  }
  const int32_t day_of_year = kDaysBeforeMonth[YearHasLeapDay(year) ? 1 : 0][month - 1] + day;
  const int32_t i = year - 1;
  return i * kDaysPerYear + i / 4 - i / 100 + i / 400 + day_of_year - EpochDayNumber;
}

TSerialDateTime TimeFromParts(uint16_t hour, uint16_t minute, uint16_t second,
                              uint16_t millisecond) {
  if (hour >= 24 || minute >= 60 || second >= 60 || millisecond >= 1000) {
    Raise<EConvertError>(StringId::TimeEncodeError);
  }
  const int32_t count = hour * 3600000 + minute * 60000 + second * 1000 + millisecond;
  return Narrow(Divide(count, 86400000.0L));
}

TDayStamp ToDayStamp(TSerialDateTime value) {
  const int64_t m = RoundToInt64(Multiply(Extend(value), 86400000.0L));
  // Day numbers beyond 32 bits have no decoding.
  const uint64_t magnitude = m < 0 ? 0 - static_cast<uint64_t>(m) : static_cast<uint64_t>(m);
  const uint64_t days = magnitude / MillisecondsPerDay;
  const int64_t day_number = m < 0 ? EpochDayNumber - static_cast<int64_t>(days)
                                   : EpochDayNumber + static_cast<int64_t>(days);
  if (day_number < INT32_MIN || day_number > INT32_MAX) {
    RaiseDateEncode();
  }
  return {static_cast<int32_t>(magnitude % MillisecondsPerDay), static_cast<int32_t>(day_number)};
}

void SplitDate(TSerialDateTime value, uint16_t& year, uint16_t& month, uint16_t& day) {
  const int32_t n = ToDayStamp(value).DayNumber;
  if (n <= 0) {
    year = month = day = 0;
    return;
  }
  if (n > kLastDecodableDayNumber) {
    RaiseDateEncode();  // the year would not fit in 16 bits
  }
  int32_t t = n - 1;
  int32_t y = 1 + 400 * (t / kDaysPer400Years);
  t %= kDaysPer400Years;
  int32_t c = t / kDaysPer100Years;
  t %= kDaysPer100Years;
  if (c == 4) {  // the last day of a 400-year cycle
    c = 3;
    t += kDaysPer100Years;
  }
  y += 100 * c;
  y += 4 * (t / kDaysPer4Years);
  t %= kDaysPer4Years;
  int32_t a = t / kDaysPerYear;
  t %= kDaysPerYear;
  if (a == 4) {  // the last day of a leap year
    a = 3;
    t += kDaysPerYear;
  }
  y += a;
  // No month is longer than 32 days, so t / 32 is the month or the one before it.
  const uint16_t(&before)[12] = kDaysBeforeMonth[YearHasLeapDay(static_cast<uint16_t>(y)) ? 1 : 0];
  int32_t m = t / 32;
  if (m < 11 && t >= before[m + 1]) {
    ++m;
  }
  year = static_cast<uint16_t>(y);
  month = static_cast<uint16_t>(m + 1);
  day = static_cast<uint16_t>(t - before[m] + 1);
}

MonthSteps::MonthSteps(TSerialDateTime value) {
  SplitDate(value, Year, Month, Day);
  if (Year == 0) {
    RaiseDateEncode();  // a moment before 0001-01-01
  }
  // The time of day from the value itself, not from its millisecond-rounded form.
  TimeOfDay = std::fabs(FractionPart(Extend(value)));
}

MonthSteps::MonthSteps(TSerialDateTime value, uint16_t year, uint16_t month, uint16_t day)
    : Year(year), Month(month), Day(day), TimeOfDay(std::fabs(FractionPart(Extend(value)))) {}

TSerialDateTime MonthSteps::At(int32_t count) const {
  const int32_t sign = count >= 0 ? 1 : -1;
  // Wide sums: a year pushed out of range fails instead of wrapping back into it.
  int64_t y = Year + int64_t{count / 12};
  int64_t m = Month + int64_t{count % 12};
  if (m < 1 || m > 12) {
    y += sign;
    m -= 12 * sign;
  }
  if (y < 1 || y > 9999) {
    RaiseDateEncode();
  }
  const auto target_year = static_cast<uint16_t>(y);
  const auto target_month = static_cast<uint16_t>(m);
  const uint16_t length = DaysInMonth(target_year, target_month);
  const TSerialDateTime date =
      DateFromParts(target_year, target_month, Day > length ? length : Day);
  return Narrow(date >= 0 ? Add(date, TimeOfDay) : Subtract(date, TimeOfDay));
}

TSerialDateTime AddMonths(TSerialDateTime value, int32_t count) {
  return MonthSteps(value).At(count);
}

long double WholePart(long double x) {
  if (IsSignallingNaN(x)) {
    Raise<EInvalidOp>(StringId::InvalidOp);
  }
  return std::trunc(x);
}

long double FractionPart(long double x) {
  return Subtract(x, WholePart(x));
}

int64_t RoundToInt64(long double x) {
  if (IsSignallingNaN(x)) {
    Raise<EInvalidOp>(StringId::InvalidOp);
  }
  // The current control word's rounding, which is to nearest, ties to even.
  long double rounded;
  __asm__("frndint" : "=t"(rounded) : "0"(x));
  // The range test also catches NaNs and infinities.
  if (!(rounded >= -0x1p63L && rounded < 0x1p63L)) {
    Raise<EInvalidOp>(StringId::InvalidOp);
  }
  return static_cast<int64_t>(rounded);
}

TSerialDateTime CurrentDateTime(Clock& clock) {
  const TLocalTime now = clock.LocalTime();
  const TSerialDateTime date = DateFromParts(now.Year, now.Month, now.Day);
  const TSerialDateTime time = TimeFromParts(now.Hour, now.Minute, now.Second, now.Milliseconds);
  return Narrow(Add(date, time));
}

}  // namespace autobackup
