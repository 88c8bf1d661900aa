#include "scheduling/due_rules.h"

#include <cmath>

#include "calendar/extended.h"
#include "failure/failures.h"

namespace autobackup {

namespace {

// WholePart then RoundToInt64, keeping the low 32 bits.
int32_t Whole(long double x) {
  return static_cast<int32_t>(static_cast<uint32_t>(RoundToInt64(WholePart(x))));
}

// A last-backup date that is no date of the calendar would make the day and hour rules move the
// stored date backwards and then be due on every tick; it fails before any arithmetic.
void RequireCalendarDate(TSerialDateTime value) {
  const long double extended = Extend(value);
  if (!std::isfinite(extended)) {
    Raise<EInvalidOp>(StringId::InvalidOp);
  }
  if (value < kFirstDate - 1 || value > kLastDate + 1) {
    Raise<EConvertError>(StringId::DateEncodeError);
  }
  uint16_t year, month, day;
  SplitDate(value, year, month, day);
  if (year < 1 || year > 9999) {
    Raise<EConvertError>(StringId::DateEncodeError);
  }
}

DueDecision DecideHours(long double last, double elapsed, int32_t interval) {
  const long double span = Multiply(interval, HourFraction);
  const int32_t count = Whole(Divide(elapsed, span));
  const bool due = LessOrEqual(span, elapsed);
  const long double advance = Multiply(Multiply(count, HourFraction), interval);
  return {due, Narrow(Add(last, advance))};
}

DueDecision DecideDays(long double last, double elapsed, int32_t interval) {
  const int32_t count = Whole(elapsed) / interval;
  const bool due = LessOrEqual(interval, elapsed);
  const auto days = static_cast<int32_t>(static_cast<uint32_t>(int64_t{count} * interval));
  return {due, Narrow(Add(last, days))};
}

DueDecision DecideWeeks(long double last, double elapsed, int32_t interval) {
  // 64-bit, so that a huge interval cannot wrap into a negative span that is always due.
  const int64_t span = int64_t{interval} * 7;
  const int64_t count = Whole(elapsed) / span;
  const bool due = LessOrEqual(span, elapsed);
  return {due, Narrow(Add(last, static_cast<long double>(count * 7 * interval)))};
}

// The hour, day and week rules count from the extended last date and the elapsed days rounded to
// a double.
template <DueDecision (*rule)(long double last, double elapsed, int32_t interval)>
DueDecision FromElapsed(TSerialDateTime stored, TSerialDateTime present, int32_t interval) {
  const long double last = Extend(stored);
  return rule(last, Narrow(Subtract(Extend(present), last)), interval);
}

DueDecision DecideMonths(TSerialDateTime last, TSerialDateTime present, int32_t interval) {
  const int32_t months = WholeMonthsPassed(last, present);
  const TSerialDateTime next = AddMonths(last, interval);
  const TSerialDateTime advanced = AddMonths(last, months / interval * interval);
  return {LessOrEqual(next, present), advanced};
}

using Rule = DueDecision (*)(TSerialDateTime last, TSerialDateTime present, int32_t interval);

// The rule of each kind, named one by one so that a kind without a rule does not compile; null
// for a value that is no kind.
Rule RuleOf(int32_t period) {
  switch (static_cast<BackupPeriodKind>(period)) {
    case kHours:
      return FromElapsed<DecideHours>;
    case kDays:
      return FromElapsed<DecideDays>;
    case kWeeks:
      return FromElapsed<DecideWeeks>;
    case kMonths:
      return DecideMonths;
  }
  return nullptr;
}

}  // namespace

int32_t WholeMonthsPassed(TSerialDateTime last, TSerialDateTime present) {
  // Stepping one month at a time costs a step per elapsed month; start instead from the month
  // before the present one and walk to the first step after the present moment. The steps grow
  // strictly with n, so the walk meets the same answer, and the same failures, as counting up
  // from 1.
  auto after_present = [&](int32_t n) { return Less(present, AddMonths(last, n)); };
  if (after_present(1)) {
    return 0;
  }
  // Every step lies before 10000-01-01; a present moment at or past it is never passed, and
  // counting up would end in the date-encoding failure of the first step past 9999.
  if (present >= kLastDate + 1) {
    Raise<EConvertError>(StringId::DateEncodeError);
  }
  uint16_t last_year, last_month, last_day, year, month, day;
  SplitDate(last, last_year, last_month, last_day);
  SplitDate(present, year, month, day);
  int32_t n = (year - last_year) * 12 + (month - last_month) - 1;
  if (n < 1) {
    n = 1;
  }
  while (n > 1 && after_present(n - 1)) {
    --n;
  }
  while (!after_present(n)) {
    ++n;
  }
  return n - 1;
}

DueDecision Decide(const TScheduleSettings& settings, TSerialDateTime present) {
  const Rule rule = RuleOf(settings.BackupPeriod);
  // Unknown kinds and intervals below one are never due and do no arithmetic.
  if (rule == nullptr || settings.BackupInterval < 1) {
    return {false, settings.LastBackupDate};
  }
  RequireCalendarDate(settings.LastBackupDate);
  return rule(settings.LastBackupDate, present, settings.BackupInterval);
}

}  // namespace autobackup
