// The cost of one whole check against the real registry, measured beside a bare loop that makes
// the same Win32 calls and nothing else; also writes and removes the not-due schedule that the
// whole-program measurements run on.
// usage: check_cost measure [CHECKS_PER_ROUND] [ROUNDS] | setup | remove
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/wine/bare_calls.h"
#include "calendar/calendar.h"
#include "calendar/extended.h"
#include "platform/win32/win32_check_lock.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_message_boxes.h"
#include "platform/win32/win32_message_queue.h"
#include "platform/win32/win32_process.h"
#include "platform/win32/win32_registry.h"
#include "scheduling/due_rules.h"
#include "scheduling/monitor.h"
#include "settings/schedule_key.h"
#include "testing/schedule_writer.h"

namespace {

using namespace autobackup;

int64_t Ticks() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return counter.QuadPart;
}

// User plus kernel time of this process, in 100 ns units.
int64_t ProcessTime() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto value = [](const FILETIME& t) {
    return static_cast<int64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime;
  };
  return value(kernel) + value(user);
}

struct Sample {
  double wall_us;
  double cpu_us;
};

template <class Body>
Sample Round(int checks, Body body) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const int64_t wall0 = Ticks(), cpu0 = ProcessTime();
  for (int i = 0; i < checks; ++i) {
    body();
  }
  const int64_t wall1 = Ticks(), cpu1 = ProcessTime();
  return {
      1e6 * static_cast<double>(wall1 - wall0) / static_cast<double>(frequency.QuadPart) / checks,
      0.1 * static_cast<double>(cpu1 - cpu0) / checks};
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Last backed up half a day ago, once a day: every check reads and decides, none is due for the
// next twelve hours.
void WriteNotDueSchedule(Registry& registry, Clock& clock) {
  WriteSchedule(registry, {CurrentDateTime(clock) - 0.5, 0.5, kDays, 1});
}

int Measure(int checks, int rounds) {
  Win32Registry registry;
  Win32Clock clock;
  Win32MessageQueue queue;
  Win32ProcessStarter starter;
  Win32MessageBoxes boxes;
  Win32CheckLock lock(CheckLockName());
  const TMonitorServices services{registry, clock, queue, starter, boxes, lock};
  TIdleMonitor monitor;
  WriteNotDueSchedule(registry, clock);
  auto check = [&] {
    if (CheckSchedule(monitor, "C:\\Apps\\", services)) {
      std::abort();  // the schedule went missing under the measurement
    }
  };
  // Warm up both, then alternate which runs first so that drift hits both alike.
  Round(checks / 4 + 1, check);
  Round(checks / 4 + 1, BareCheckCalls);
  std::vector<double> check_wall, bare_wall, check_cpu, bare_cpu;
  for (int r = 0; r < rounds; ++r) {
    Sample c, b;
    if (r % 2 == 0) {
      c = Round(checks, check);
      b = Round(checks, BareCheckCalls);
    } else {
      b = Round(checks, BareCheckCalls);
      c = Round(checks, check);
    }
    std::printf("round %2d: check %8.2f us (cpu %7.2f)  bare %8.2f us (cpu %7.2f)\n", r + 1,
                c.wall_us, c.cpu_us, b.wall_us, b.cpu_us);
    check_wall.push_back(c.wall_us);
    bare_wall.push_back(b.wall_us);
    check_cpu.push_back(c.cpu_us);
    bare_cpu.push_back(b.cpu_us);
  }
  const double cw = Median(check_wall), bw = Median(bare_wall);
  const double cm = *std::min_element(check_wall.begin(), check_wall.end());
  const double bm = *std::min_element(bare_wall.begin(), bare_wall.end());
  const double cc = Median(check_cpu), bc = Median(bare_cpu);
  std::printf("rounds %d of %d checks; medians per check\n", rounds, checks);
  std::printf("whole check: wall %.2f us, process cpu %.2f us\n", cw, cc);
  std::printf("bare calls:  wall %.2f us, process cpu %.2f us\n", bw, bc);
  std::printf("ratio (wall): %.3f; of the fastest rounds (%.2f us and %.2f us): %.3f\n", cw / bw,
              cm, bm, cm / bm);
  std::printf("ratio (process cpu): %.3f\n", bc > 0 ? cc / bc : 0.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  LoadDefaultFpuControlWord();
  const char* mode = argc > 1 ? argv[1] : "measure";
  if (std::strcmp(mode, "setup") == 0) {
    Win32Registry registry;
    Win32Clock clock;
    WriteNotDueSchedule(registry, clock);
    return 0;
  }
  if (std::strcmp(mode, "remove") == 0) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kScheduleKeyPath + 1, 0, KEY_ALL_ACCESS, &key) !=
        ERROR_SUCCESS) {
      return 1;
    }
    const LONG status = RegDeleteValueA(key, kBackupTime);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? 0 : 1;
  }
  const int checks = argc > 2 ? std::atoi(argv[2]) : 2000;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 15;
  return Measure(checks > 0 ? checks : 1, rounds > 0 ? rounds : 1);
}
