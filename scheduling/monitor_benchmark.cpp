// Cost of one whole check against the in-memory registry, in the common case: nothing due.
#include <benchmark/benchmark.h>

#include "calendar/extended.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_message_queue.h"
#include "platform/fake/fake_process.h"
#include "platform/fake/fake_registry.h"
#include "scheduling/due_rules.h"
#include "scheduling/monitor.h"
#include "settings/schedule_key.h"

namespace autobackup {
namespace {

void CheckNothingDue(benchmark::State& state, int32_t kind) {
  LoadDefaultFpuControlWord();
  FakeRegistry registry;
  FakeClock clock;
  FakeMessageQueue queue;
  FakeProcessStarter starter;
  FakeMessageBoxes boxes;
  TMonitorServices services{registry, clock, queue, starter, boxes};
  RegKey key = 0;
  registry.CreateKey(kRootCurrentUser, kScheduleKeyPath + 1, &key);
  const double last = CurrentDateTime(clock) - 0.1, time = 0;
  const int32_t interval = 1;
  registry.SetValue(key, kLastBackupDate, kTypeBinary, &last, 8);
  registry.SetValue(key, kBackupTime, kTypeBinary, &time, 8);
  registry.SetValue(key, kBackupPeriod, kTypeDword, &kind, 4);
  registry.SetValue(key, kBackupInterval, kTypeDword, &interval, 4);
  registry.CloseKey(key);
  for (auto _ : state) {
    benchmark::DoNotOptimize(CheckSchedule("C:\\Apps\\", services));
  }
}
BENCHMARK_CAPTURE(CheckNothingDue, days, kDays);
BENCHMARK_CAPTURE(CheckNothingDue, months, kMonths);

}  // namespace
}  // namespace autobackup
