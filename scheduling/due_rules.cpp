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

// The last-backup date with its calendar date, split once for the check and the month rule.
struct TLastDate {
  TSerialDateTime Value;
  uint16_t Year, Month, Day;
};

// A last-backup date that is no date of the calendar would make the day and hour rules move the
// stored date backwards and then be due on every tick; it fails before any arithmetic.
TLastDate RequireCalendarDate(TSerialDateTime value) {
  const long double extended = Extend(value);
  if (!std::isfinite(extended)) {
    Raise<EInvalidOp>(StringId::InvalidOp);
  }
  if (value < kFirstDate - 1 || value > kLastDate + 1) {
    Raise<EConvertError>(StringId::DateEncodeError);
  }
  TLastDate last{value, 0, 0, 0};
  SplitDate(value, last.Year, last.Month, last.Day);
  if (last.Year < 1 || last.Year > 9999) {
    Raise<EConvertError>(StringId::DateEncodeError);
  }
  return last;
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
DueDecision FromElapsed(TLastDate stored, TSerialDateTime present, int32_t interval) {
  const long double last = Extend(stored.Value);
  return rule(last, Narrow(Subtract(Extend(present), last)), interval);
}

DueDecision DecideMonths(TLastDate last, TSerialDateTime present, int32_t interval) {
  // The one split of the last date serves every month step of the decision.
  const MonthSteps steps(last.Value, last.Year, last.Month, last.Day);
  TSerialDateTime passed = 0;
  const int32_t months = WholeMonthsPassed(steps, present, &passed);
  // The steps grow with their count, so the step `interval` is not after the present exactly
  // when that many months have passed. Stepped to only when not due: for the failure a step
  // past the calendar raises.
  const bool due = interval <= months;
  if (!due) {
    steps.At(interval);
  }
  const int32_t advance = months / interval * interval;
  return {due, advance == months && months >= 1 ? passed : steps.At(advance)};
}

using Rule = DueDecision (*)(TLastDate last, TSerialDateTime present, int32_t interval);

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

int32_t WholeMonthsPassed(const MonthSteps& steps, TSerialDateTime present,
                          TSerialDateTime* passed) {
  // Counting up from 1 costs a month step per elapsed month. The month difference instead names
  // the step n that lands in the present's month: the steps before it lie in earlier months and
  // the ones after it in later months, so n or n - 1 is the count, and one more step confirms
  // it. The steps grow strictly with n, so the walks below meet the same answer, and the same
  // failures, as counting up; they go further only for values within a rounding of midnight.
  // The last step found not after the present is the one of the count returned.
  auto after_present = [&](int32_t n) {
    const TSerialDateTime step = steps.At(n);
    const bool after = Less(present, step);
    if (!after) {
      *passed = step;
    }
    return after;
  };
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
  return rule(RequireCalendarDate(settings.LastBackupDate), present, settings.BackupInterval);
}

}  // namespace autobackup
