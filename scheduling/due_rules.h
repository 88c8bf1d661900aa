// The due-date rules: from the stored schedule and the present moment, whether a backup is due
// and to which whole interval boundary the last-backup date then moves.
#pragma once

#include <cstdint>

#include "calendar/calendar.h"

namespace autobackup {

struct TScheduleSettings {
  TSerialDateTime LastBackupDate;
  TSerialDateTime BackupTime;  // read for its type only; takes no part in the rules
  int32_t BackupPeriod;        // 0 hours, 1 days, 2 weeks, 3 calendar months
  int32_t BackupInterval;      // period units between two backups, from 1 up
};

struct DueDecision {
  bool Due;
  TSerialDateTime NewLastBackupDate;  // meaningful only when Due
};

enum BackupPeriodKind : int32_t { kHours = 0, kDays = 1, kWeeks = 2, kMonths = 3 };

// The part of a day the rules count as one hour: the decimal 0.041667 at extended precision
// (significand 0xAAAB042528AE74F3, exponent 2^-5), deliberately not 1/24.
constexpr long double HourFraction = static_cast<long double>(0xAAAB042528AE74F3ULL) * 0x1p-68L;

DueDecision Decide(const TScheduleSettings& settings, TSerialDateTime present);

// The number of whole calendar months from `last` that are not after `present`: one less than
// the first n >= 1 with AddMonths(last, n) > present.
int32_t WholeMonthsPassed(TSerialDateTime last, TSerialDateTime present);

}  // namespace autobackup
