// Cost of one whole check against the in-memory registry: in the common case, nothing due, and
// when a backup is due and started, which adds the start and the write of the new date.
#include <benchmark/benchmark.h>

#include <string>

#include "calendar/extended.h"
#include "scheduling/due_rules.h"
#include "scheduling/monitor.h"
#include "settings/schedule_key.h"
#include "testing/fake/fake_check_lock.h"
#include "testing/fake/fake_clock.h"
#include "testing/fake/fake_message_boxes.h"
#include "testing/fake/fake_message_queue.h"
#include "testing/fake/fake_process.h"
#include "testing/fake/fake_registry.h"
#include "testing/schedule_writer.h"

namespace autobackup {
namespace {

void CheckNothingDue(benchmark::State& state, int32_t kind) {
  LoadDefaultFpuControlWord();
  FakeRegistry registry;
  FakeClock clock;
  FakeMessageQueue queue;
  FakeProcessStarter starter;
  FakeMessageBoxes boxes;
  FakeNamedMutex mutex;
  FakeCheckLock lock(&mutex);
  TMonitorServices services{registry, clock, queue, starter, boxes, lock};
  TIdleMonitor monitor;
  // About a quarter of an hour ago: not due for an interval of one unit of any kind.
  WriteSchedule(registry, {CurrentDateTime(clock) - 0.01, 0, kind, 1});
  for (auto _ : state) {
    benchmark::DoNotOptimize(CheckSchedule(monitor, "C:\\Apps\\", services));
  }
}
BENCHMARK_CAPTURE(CheckNothingDue, hours, kHours);
BENCHMARK_CAPTURE(CheckNothingDue, days, kDays);
BENCHMARK_CAPTURE(CheckNothingDue, weeks, kWeeks);
BENCHMARK_CAPTURE(CheckNothingDue, months, kMonths);

// Starts succeed at once and record nothing, so that a long run does not grow a history.
class InstantStarter : public ProcessStarter {
 public:
  bool Start(const std::string&, const std::string&, uint32_t) override { return true; }
};
class NoBoxes : public MessageBoxes {
 public:
  int Show(const std::string&, const std::string&, uint32_t) override { return 1; }
};

// Every check finds a backup due (last one a year ago), starts it and writes the new date; the
// old date is put back after each check, so the figure includes that one in-memory write.
void CheckDue(benchmark::State& state, int32_t kind) {
  LoadDefaultFpuControlWord();
  FakeRegistry registry;
  FakeClock clock;
  FakeMessageQueue queue;
  InstantStarter starter;
  NoBoxes boxes;
  FakeNamedMutex mutex;
  FakeCheckLock lock(&mutex);
  TMonitorServices services{registry, clock, queue, starter, boxes, lock};
  TIdleMonitor monitor;
  const double last = CurrentDateTime(clock) - 365.25;
  WriteSchedule(registry, {last, 0, kind, 1});
  RegKey key = 0;
  registry.OpenKey(kRootCurrentUser, kScheduleKeyPath + 1, &key);
  for (auto _ : state) {
    registry.SetValue(key, kLastBackupDate, kTypeBinary, &last, 8);
    benchmark::DoNotOptimize(CheckSchedule(monitor, "C:\\Apps\\", services));
  }
  registry.CloseKey(key);
}
BENCHMARK_CAPTURE(CheckDue, hours, kHours);
BENCHMARK_CAPTURE(CheckDue, days, kDays);
BENCHMARK_CAPTURE(CheckDue, months, kMonths);

}  // namespace
}  // namespace autobackup
