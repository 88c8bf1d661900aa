// The due-date rules: from the stored schedule and the present moment, whether a backup is due
// and to which whole interval boundary the last-backup date then moves.
#pragma once

#include <cstdint>

#include "calendar/calendar.h"

namespace autobackup {

struct TScheduleSettings {
  TSerialDateTime LastBackupDate;
  TSerialDateTime BackupTime;  // read for its type only; takes no part in the rules
  int32_t BackupPeriod;        // a BackupPeriodKind, or an unknown value
  int32_t BackupInterval;      // period units between two backups, from 1 up
};

struct DueDecision {
  bool Due;
  TSerialDateTime NewLastBackupDate;  // meaningful only when Due
};

// The part of a day the rules count as one hour: the decimal 0.041667 at extended precision
// (significand 0xAAAB042528AE74F3, exponent 2^-5), deliberately not 1/24.
constexpr long double HourFraction = static_cast<long double>(0xAAAB042528AE74F3ULL) * 0x1p-68L;

// The period kinds, all of them listed in kPeriodKinds; a BackupPeriod that is none of them is
// unknown, never due. Tests and fuzz targets take the kinds and their units from here, so that a
// new kind is added here, in the rules and in their tests, and nowhere else.
enum BackupPeriodKind : int32_t { kHours = 0, kDays = 1, kWeeks = 2, kMonths = 3 };
constexpr BackupPeriodKind kPeriodKinds[] = {kHours, kDays, kWeeks, kMonths};

// What one unit of a kind is, as the tests hold the rules to it: a fixed span of Days, or (Days 0)
// a number of calendar Months. A value that is no kind has neither.
struct PeriodUnit {
  long double Days;
  int32_t Months;
};
constexpr PeriodUnit UnitOf(BackupPeriodKind kind) {
  switch (kind) {
    case kHours:
      return {HourFraction, 0};
    case kDays:
      return {1, 0};
    case kWeeks:
      return {7, 0};
    case kMonths:
      return {0, 1};
  }
  return {0, 0};
}

DueDecision Decide(const TScheduleSettings& settings, TSerialDateTime present);

// The number of whole calendar months from the last date, split into its month steps, that are
// not after `present`: one less than the first n >= 1 with steps.At(n) > present. For a count of
// 1 or more, `*passed` receives the step of that count.
int32_t WholeMonthsPassed(const MonthSteps& steps, TSerialDateTime present,
                          TSerialDateTime* passed);

}  // namespace autobackup
