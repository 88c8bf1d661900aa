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
  // Counting up from 1 costs a month step per elapsed month. The month difference instead names
  // the step n that lands in the present's month: the steps before it lie in earlier months and
  // the ones after it in later months, so n or n - 1 is the count, and one more step confirms
  // it. The steps grow strictly with n, so the walks below meet the same answer, and the same
  // failures, as counting up; they go further only for values within a rounding of midnight.
  const MonthSteps steps(last);
  auto after_present = [&](int32_t n) { return Less(present, steps.At(n)); };
  if (after_present(1)) {
    return 0;
  }
  // Every step lies before 10000-01-01; a present moment at or past it is never passed, and
  // counting up would end in the date-encoding failure of the first step past 9999.
  if (present >= kLastDate + 1) {
    Raise<EConvertError>(StringId::DateEncodeError);
  }
  uint16_t year, month, day;
  SplitDate(present, year, month, day);
  // A present moment that rounds up to 10000-01-01 has no step in its month: start before it.
  int32_t n = (year - steps.Year) * 12 + (month - steps.Month) - (year > 9999 ? 1 : 0);
  if (n > 1 && after_present(n)) {
    do {
      --n;
    } while (n > 1 && after_present(n));
    return n;
  }
  if (n < 1) {
    n = 1;
  }
  while (!after_present(n + 1)) {
    ++n;
  }
  return n;
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
