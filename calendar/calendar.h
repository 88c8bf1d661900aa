// Date-time values: days since 1899-12-30 with the time of day as the fraction, on the proleptic
// Gregorian calendar, and the operations the scheduler rests on.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace autobackup {

using TSerialDateTime = double;

struct TDayStamp {
  int32_t Milliseconds;  // of the day, 0 to 86,399,999
  int32_t DayNumber;     // 0001-01-01 is 1, 1899-12-30 is EpochDayNumber
};

constexpr int32_t MillisecondsPerDay = 86400000;
constexpr int32_t EpochDayNumber = 693594;
// The encodable range: 0001-01-01 and 9999-12-31.
constexpr TSerialDateTime kFirstDate = -693593.0;
constexpr TSerialDateTime kLastDate = 2958465.0;

TSerialDateTime DateFromParts(uint16_t year, uint16_t month, uint16_t day);
TSerialDateTime TimeFromParts(uint16_t hour, uint16_t minute, uint16_t second,
                              uint16_t millisecond);
TDayStamp ToDayStamp(TSerialDateTime value);
// Year, month and day of the value rounded to the millisecond; all three 0 before 0001-01-01.
void SplitDate(TSerialDateTime value, uint16_t& year, uint16_t& month, uint16_t& day);
bool YearHasLeapDay(uint16_t year);
uint16_t DaysInMonth(uint16_t year, uint16_t month);
// The value moved by whole calendar months, the day clamped to the target month, the time of
// day kept.
TSerialDateTime AddMonths(TSerialDateTime value, int32_t count);
// AddMonths of one value split once, for taking several steps from it: At(count) is
// AddMonths(value, count) bit for bit. Splitting fails as AddMonths would.
struct MonthSteps {
  explicit MonthSteps(TSerialDateTime value);
  // From the value and its date as SplitDate gives it, year 1 or later.
  MonthSteps(TSerialDateTime value, uint16_t year, uint16_t month, uint16_t day);
  TSerialDateTime At(int32_t count) const;
  uint16_t Year, Month, Day;
  long double TimeOfDay;
};
// The integer part toward zero, and what is left of x after it.
long double WholePart(long double x);
long double FractionPart(long double x);
// x rounded to the nearest integer, ties to even.
int64_t RoundToInt64(long double x);
// The local date and time now, to the millisecond.
TSerialDateTime CurrentDateTime(Clock& clock);

}  // namespace autobackup
