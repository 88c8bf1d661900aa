// Cost of one due decision per period kind, and of one month step.
#include <benchmark/benchmark.h>

#include "calendar/extended.h"
#include "scheduling/due_rules.h"

namespace autobackup {
namespace {

void DecideKind(benchmark::State& state, int32_t kind, double last, double present) {
  LoadDefaultFpuControlWord();
  const TScheduleSettings settings{last, 0.0, kind, 1};
  for (auto _ : state) {
    benchmark::DoNotOptimize(Decide(settings, present));
  }
}

const double kLast = 45322.4375;      // 2024-01-31 10:30
const double kPresent = 45430.59375;  // 2024-05-18 14:15

BENCHMARK_CAPTURE(DecideKind, hours, kHours, kLast, kPresent);
BENCHMARK_CAPTURE(DecideKind, days, kDays, kLast, kPresent);
BENCHMARK_CAPTURE(DecideKind, weeks, kWeeks, kLast, kPresent);
BENCHMARK_CAPTURE(DecideKind, months, kMonths, kLast, kPresent);
// 0001-01-31 to 9001-05-18: a 9000-year gap, over 100,000 months.
BENCHMARK_CAPTURE(DecideKind, months_9000_years, kMonths, -693563.5625, 2593700.59375);

void StepMonths(benchmark::State& state) {
  LoadDefaultFpuControlWord();
  int32_t count = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(AddMonths(kLast, count));
    count = (count + 7) % 1000;
  }
}
BENCHMARK(StepMonths);

}  // namespace
}  // namespace autobackup
