// Fuzz target: the due-date rules on any schedule and any present moment. No input may end in
// a sanitizer report or a failure of a type the rules cannot raise; a due decision must move the
// stored date by whole intervals, to no later than the present moment, and leave nothing due.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "calendar/calendar.h"
#include "calendar/extended.h"
#include "fuzz/fuzz_support.h"
#include "scheduling/due_rules.h"

namespace autobackup::fuzz {
namespace {

// Input: one byte of shape flags, then LastBackupDate, BackupTime, BackupPeriod, BackupInterval
// and the present moment, little-endian. Each flag trades a raw field for one that lands where
// the rules do their real work, so that both are explored.
constexpr uint8_t kLastInCalendar = 1;   // LastBackupDate: a day of the calendar, any time
constexpr uint8_t kPresentNearLast = 2;  // present: LastBackupDate plus a span of any scale
constexpr uint8_t kSmallInterval = 4;    // BackupInterval: 1 to 400
constexpr uint8_t kKnownPeriod = 8;      // BackupPeriod: one of the kinds

// The present moments the clock can give: 0001-01-01 to the end of 9999-12-31.
bool PresentInCalendar(double present) {
  return present >= kFirstDate && present < kLastDate + 1;
}

// A few units in the last place of the larger magnitude: the rounding that storing a sum as a
// double may add.
long double Tolerance(double a, double b) {
  const double larger = std::fmax(std::fmax(std::fabs(a), std::fabs(b)), 1.0);
  return 4 * std::ldexp(1.0L, std::ilogb(larger) - 52);
}

const std::initializer_list<const char*> kRuleFailures = {"EInvalidOp", "EZeroDivide", "EOverflow",
                                                          "EDivByZero", "EConvertError"};

bool IsKind(int32_t period) {
  return std::find(std::begin(kPeriodKinds), std::end(kPeriodKinds), period) !=
         std::end(kPeriodKinds);
}

PeriodUnit UnitOfKind(int32_t period) {
  return UnitOf(static_cast<BackupPeriodKind>(period));
}

// Whether a month step of `count` from `last` gives exactly `advanced`.
bool MonthStepGives(double last, int64_t count, double advanced) {
  if (count < INT32_MIN || count > INT32_MAX) {
    return false;
  }
  try {
    return ToBits(AddMonths(last, static_cast<int32_t>(count))) == ToBits(advanced);
  } catch (const Exception&) {
    return false;
  }
}

// Kinds of a fixed span: the interval in days, and the exact boundary the new date was rounded
// from.
struct Boundary {
  long double unit;
  long double exact;
};

Boundary CheckWholeIntervals(const TScheduleSettings& s, double advanced) {
  const double last = s.LastBackupDate;
  const int32_t interval = s.BackupInterval;
  const PeriodUnit period = UnitOfKind(s.BackupPeriod);
  if (period.Months != 0) {
    uint16_t y0, m0, d0, y1, m1, d1;
    SplitDate(last, y0, m0, d0);
    SplitDate(advanced, y1, m1, d1);
    // A time of day within half a millisecond of midnight carries the decoded date one day
    // away from the epoch, possibly into the next or previous month.
    const int64_t months = (int64_t{y1} - y0) * 12 + (int64_t{m1} - m0);
    const int64_t months_per_interval = int64_t{interval} * period.Months;
    bool found = false;
    for (int64_t step : {months - 1, months, months + 1}) {
      if (step >= months_per_interval && step % months_per_interval == 0 &&
          MonthStepGives(last, step, advanced)) {
        found = true;
      }
    }
    FUZZ_REQUIRE(found, "kind %d: %.17g is no whole number of %d steps of %d months from %.17g",
                 s.BackupPeriod, advanced, interval, period.Months, last);
    return {0, advanced};
  }
  const long double unit = interval * period.Days;
  const long double count = std::nearbyint((static_cast<long double>(advanced) - last) / unit);
  const long double exact = last + count * unit;
  FUZZ_REQUIRE(count >= 1, "kind %d: %.17g is not at least one interval after %.17g",
               s.BackupPeriod, advanced, last);
  FUZZ_REQUIRE(std::fabs(advanced - exact) <= Tolerance(advanced, last),
               "kind %d: %.17g is no whole number of intervals of %d from %.17g", s.BackupPeriod,
               advanced, interval, last);
  return {unit, exact};
}

// Deciding again from the advanced date at the same moment must not start another backup, with
// two exceptions that the stored form brings. Month steps: a day clamped to a shorter month can
// leave one more interval passed, once per day clamped (31 down to 28). Other kinds: the stored
// date is the double nearest the exact boundary; where that rounds up, the next boundary from
// the stored date can reach the present moment although the exact one lies after it, and one
// more start follows.
void CheckSettled(TScheduleSettings s, double present, int allowed_repeats) {
  for (int repeat = 0;; ++repeat) {
    DueDecision again;
    try {
      again = Decide(s, present);
    } catch (const Exception& failure) {
      // Stepping on from a date near 9999 may leave the calendar: a date failure, no start.
      FUZZ_REQUIRE(UnitOfKind(s.BackupPeriod).Months != 0,
                   "kind %d: the decision after a start raised %s", s.BackupPeriod,
                   failure.TypeName());
      RequireAllowed(failure, {"EConvertError"});
      return;
    }
    if (!again.Due) {
      return;
    }
    FUZZ_REQUIRE(repeat < allowed_repeats,
                 "kind %d interval %d: due again from %.17g at %.17g (repeat %d)", s.BackupPeriod,
                 s.BackupInterval, s.LastBackupDate, present, repeat);
    s.LastBackupDate = again.NewLastBackupDate;
  }
}

void CheckDue(const TScheduleSettings& s, double present, double advanced) {
  FUZZ_REQUIRE(IsKind(s.BackupPeriod) && s.BackupInterval >= 1,
               "due with period %d and interval %d", s.BackupPeriod, s.BackupInterval);
  FUZZ_REQUIRE(std::isfinite(advanced), "due with a new date that is no number");
  FUZZ_REQUIRE(advanced >= s.LastBackupDate, "kind %d: new date %.17g before the old %.17g",
               s.BackupPeriod, advanced, s.LastBackupDate);
  // Elapsed is rounded to a double before it is counted; where it rounds up onto a boundary (a
  // date before 1899-12-30 against a present moment much nearer that day), the new date may lie
  // after the present moment by that rounding, a few microseconds at most, and no further.
  const double elapsed = static_cast<double>(static_cast<long double>(present) - s.LastBackupDate);
  const long double elapsed_rounding = std::fabs(std::nextafter(elapsed, INFINITY) - elapsed);
  FUZZ_REQUIRE(advanced <= present + elapsed_rounding + Tolerance(advanced, present),
               "kind %d: new date %.17g after the present %.17g", s.BackupPeriod, advanced,
               present);
  const Boundary boundary = CheckWholeIntervals(s, advanced);
  const PeriodUnit period = UnitOfKind(s.BackupPeriod);
  if (period.Months == 0 && period.Days == std::floor(period.Days)) {
    FUZZ_REQUIRE(boundary.exact + boundary.unit > present,
                 "kind %d: the boundary after %.17g, %.0f days on, is not after the present %.17g",
                 s.BackupPeriod, advanced, static_cast<double>(boundary.unit), present);
  }
  int allowed_repeats = 3;
  if (period.Months == 0) {
    const bool rounded_onto_present =
        advanced + boundary.unit <= present && boundary.exact + boundary.unit > present;
    allowed_repeats = rounded_onto_present ? 1 : 0;
  }
  TScheduleSettings advanced_settings = s;
  advanced_settings.LastBackupDate = advanced;
  CheckSettled(advanced_settings, present, allowed_repeats);
}

}  // namespace
}  // namespace autobackup::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace autobackup;
  using namespace autobackup::fuzz;
  Input in(data, size);
  const uint8_t shape = in.Byte();
  TScheduleSettings s;
  const uint64_t last_bits = in.U64();
  s.LastBackupDate = shape & kLastInCalendar ? CalendarValue(last_bits) : FromBits(last_bits);
  s.BackupTime = FromBits(in.U64());
  const auto period = static_cast<int32_t>(in.U32());
  s.BackupPeriod = shape & kKnownPeriod
                       ? kPeriodKinds[static_cast<uint32_t>(period) % std::size(kPeriodKinds)]
                       : period;
  const auto interval = static_cast<int32_t>(in.U32());
  s.BackupInterval = shape & kSmallInterval
                         ? 1 + static_cast<int32_t>(static_cast<uint32_t>(interval) % 400)
                         : interval;
  const uint64_t present_bits = in.U64();
  const double present = shape & kPresentNearLast ? s.LastBackupDate + SpanOfAnyScale(present_bits)
                                                  : FromBits(present_bits);

  DueDecision decision;
  try {
    decision = Decide(s, present);
  } catch (const Exception& failure) {
    RequireAllowed(failure, kRuleFailures);
    return 0;
  }
  // The clock never gives a moment outside the calendar; there only the absence of undefined
  // behaviour and of foreign failures is required.
  if (decision.Due && PresentInCalendar(present)) {
    CheckDue(s, present, decision.NewLastBackupDate);
  }
  return 0;
}
