// Fuzz target: one whole check of the monitor cycle over an in-memory registry whose four values
// have any type, size and bytes, at any clock reading. The check must end as the schedule
// dictates: a stop, the failure naming the first damaged value, or the rules' decision; it must
// close every key, release the check lock, and write only the 8 bytes of the decided date, only
// after a started backup.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "calendar/calendar.h"
#include "calendar/extended.h"
#include "fuzz/fuzz_support.h"
#include "scheduling/due_rules.h"
#include "scheduling/monitor.h"
#include "settings/schedule_key.h"
#include "testing/counting_registry.h"
#include "testing/fake/fake_check_lock.h"
#include "testing/fake/fake_clock.h"
#include "testing/fake/fake_message_boxes.h"
#include "testing/fake/fake_message_queue.h"
#include "testing/fake/fake_process.h"
#include "testing/fake/fake_registry.h"

namespace autobackup::fuzz {
namespace {

const char* const kNames[4] = {kLastBackupDate, kBackupTime, kBackupPeriod, kBackupInterval};
const std::string kDirectory = "C:\\Apps\\";
const std::string kApplication = "C:\\Apps\\TarvikEmailBackup.exe";

struct Stored {
  bool present = false;
  RegType type = kTypeNone;
  std::vector<uint8_t> data;
  bool operator==(const Stored& o) const {
    return present == o.present && type == o.type && data == o.data;
  }
};

Stored Look(FakeRegistry& registry, const char* name) {
  Stored stored;
  RegKey key = 0;
  if (registry.OpenKey(kRootCurrentUser, kScheduleKeyPath + 1, &key) != kStatusSuccess) {
    return stored;
  }
  uint8_t buffer[256];
  uint32_t size = sizeof buffer;
  stored.present = registry.QueryValue(key, name, &stored.type, buffer, &size) == kStatusSuccess;
  if (stored.present) {
    stored.data.assign(buffer, buffer + size);
  }
  registry.CloseKey(key);
  return stored;
}

// A container's size for the messages (%zu is not portable to every C runtime).
template <class Container>
unsigned Count(const Container& container) {
  return static_cast<unsigned>(container.size());
}

uint64_t LittleEndian(const std::vector<uint8_t>& data) {
  uint64_t value = 0;
  for (size_t i = data.size(); i-- > 0;) {
    value = value << 8 | data[i];
  }
  return value;
}

// The failure the typed reads must raise for the first value stored in the wrong form, if any.
std::string ExpectedReadFailure(const Stored (&values)[4]) {
  for (int i = 0; i < 4; ++i) {
    const size_t capacity = i < 2 ? 8 : 4;
    const RegType wanted = i < 2 ? kTypeBinary : kTypeDword;
    const Stored& v = values[i];
    if (v.data.size() > capacity) {
      return FillPattern(LoadText(StringId::RegGetDataFailed), {kNames[i]});
    }
    if (v.type != wanted || (i < 2 && v.data.size() != 8)) {
      return FillPattern(LoadText(StringId::RegInvalidDataType), {kNames[i]});
    }
  }
  return {};
}

bool ClockValid(const TLocalTime& t) {
  constexpr int kLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t.Year < 1 || t.Year > 9999 || t.Month < 1 || t.Month > 12 || t.Hour > 23 || t.Minute > 59 ||
      t.Second > 59 || t.Milliseconds > 999) {
    return false;
  }
  const bool leap = t.Year % 4 == 0 && (t.Year % 100 != 0 || t.Year % 400 == 0);
  return t.Day >= 1 && t.Day <= kLengths[t.Month - 1] + (t.Month == 2 && leap);
}

// Input: flags, a start-failure code, the seven clock fields, then the four values in the order
// of kNames, each as a type byte (top bit: absent), a size byte and that many data bytes.
constexpr uint8_t kStartFails = 1;
constexpr uint8_t kWritesFail = 2;
constexpr uint8_t kKeyDenied = 4;
constexpr uint8_t kKeyAbsent = 8;
constexpr uint8_t kClockInRange = 16;
constexpr uint8_t kDateBeforePresent = 32;  // an 8-byte LastBackupDate counts back from the clock

struct Outcome {
  bool missing = false;
  std::string failure_type;
  std::string failure_message;
};

Outcome RunCheck(const TMonitorServices& services) {
  Outcome outcome;
  TIdleMonitor monitor;
  try {
    outcome.missing = CheckSchedule(monitor, kDirectory, services);
  } catch (const Exception& failure) {
    outcome.failure_type = failure.TypeName();
    outcome.failure_message = failure.Message();
  }
  return outcome;
}

void RunOne(const uint8_t* data, size_t size) {
  Input in(data, size);
  const uint8_t flags = in.Byte();
  in.Byte();  // once the failed start's code; every failure is alike now, and the seeds line up
  TLocalTime now;
  for (uint16_t* field :
       {&now.Year, &now.Month, &now.Day, &now.Hour, &now.Minute, &now.Second, &now.Milliseconds}) {
    *field = in.U16();
  }
  if (flags & kClockInRange) {
    now.Year = 1 + now.Year % 9999;
    now.Month = 1 + now.Month % 12;
    now.Day = 1 + now.Day % 28;
    now.Hour %= 24;
    now.Minute %= 60;
    now.Second %= 60;
    now.Milliseconds %= 1000;
  }
  FakeClock clock;
  clock.Set(now);
  const bool clock_valid = ClockValid(now);
  const double present = clock_valid ? CurrentDateTime(clock) : 0;

  FakeRegistry fake;
  if (!(flags & kKeyAbsent)) {
    RegKey key = 0;
    fake.CreateKey(kRootCurrentUser, kScheduleKeyPath + 1, &key);
    for (int i = 0; i < 4; ++i) {
      const uint8_t type = in.Byte();
      std::vector<uint8_t> bytes(in.Byte());
      for (uint8_t& byte : bytes) {
        byte = in.Byte();
      }
      if (i == 0 && (flags & kDateBeforePresent) && clock_valid && bytes.size() == 8) {
        const uint64_t bits = ToBits(present - SpanOfAnyScale(LittleEndian(bytes)));
        for (int b = 0; b < 8; ++b) {
          bytes[b] = static_cast<uint8_t>(bits >> (8 * b));
        }
      }
      if (!(type & 0x80)) {
        fake.SetValue(key, kNames[i], type, bytes.data(), static_cast<uint32_t>(bytes.size()));
      }
    }
    fake.CloseKey(key);
  }
  if (flags & kKeyDenied) {
    fake.DenyAccess(kRootCurrentUser, kScheduleKeyPath + 1);
  }
  if (flags & kWritesFail) {
    fake.FailWrites(kStatusAccessDenied);
  }

  Stored before[4];
  for (int i = 0; i < 4; ++i) {
    before[i] = Look(fake, kNames[i]);
  }
  CountingRegistry registry(fake);
  FakeMessageQueue queue;
  FakeProcessStarter starter;
  FakeMessageBoxes boxes;
  if (flags & kStartFails) {
    starter.FailEveryStart();
  } else {
    starter.PlaceProgram(kApplication);
  }
  FakeNamedMutex mutex;
  FakeCheckLock lock(&mutex);
  const TMonitorServices services{registry, clock, queue, starter, boxes, lock};
  const Outcome outcome = RunCheck(services);

  FUZZ_REQUIRE(fake.OpenHandles() == 0 && fake.StrayCloses() == 0,
               "the check left %d keys open and closed %d stray ones", fake.OpenHandles(),
               fake.StrayCloses());
  FakeCheckLock other_copy(&mutex);
  FUZZ_REQUIRE(other_copy.TryAcquire(), "the check kept the lock of the user's copies");
  other_copy.Release();
  FUZZ_REQUIRE(registry.writes.size() <= 1 && starter.Attempts().size() <= 1,
               "one check wrote %u times and started %u times", Count(registry.writes),
               Count(starter.Attempts()));
  const bool started = !starter.Attempts().empty() && starter.Attempts()[0].started;
  FUZZ_REQUIRE(boxes.Shown().size() == (starter.Attempts().empty() || started ? 0u : 1u),
               "%u boxes after %u starts", Count(boxes.Shown()), Count(starter.Attempts()));
  for (const CountingRegistry::Write& write : registry.writes) {
    FUZZ_REQUIRE(started, "a write without a started backup");
    FUZZ_REQUIRE(
        write.name == kLastBackupDate && write.type == kTypeBinary && write.data.size() == 8,
        "wrote '%s' as type %u with %u bytes", write.name.c_str(), write.type, Count(write.data));
  }
  for (int i = 1; i < 4; ++i) {
    FUZZ_REQUIRE(Look(fake, kNames[i]) == before[i], "the check changed %s", kNames[i]);
  }

  const bool missing = (flags & kKeyDenied) || !before[0].present || !before[1].present ||
                       !before[2].present || !before[3].present;
  if (missing) {
    FUZZ_REQUIRE(outcome.missing && outcome.failure_type.empty() && registry.reads == 0 &&
                     starter.Attempts().empty() && registry.writes.empty(),
                 "a missing value must stop the check quietly, before any read");
    return;
  }
  FUZZ_REQUIRE(!outcome.missing, "all four values present, yet the check asked to stop");

  const std::string read_failure = ExpectedReadFailure(before);
  if (!read_failure.empty()) {
    FUZZ_REQUIRE(
        outcome.failure_type == "ERegistryException" && outcome.failure_message == read_failure,
        "expected ERegistryException '%s', got %s '%s'", read_failure.c_str(),
        outcome.failure_type.c_str(), outcome.failure_message.c_str());
    FUZZ_REQUIRE(starter.Attempts().empty() && Look(fake, kLastBackupDate) == before[0],
                 "a damaged schedule started a backup or changed the date");
    return;
  }
  if (!clock_valid) {
    FUZZ_REQUIRE(outcome.failure_type == "EConvertError" && starter.Attempts().empty(),
                 "a clock outside the calendar gave '%s' instead of EConvertError",
                 outcome.failure_type.c_str());
    return;
  }

  TScheduleSettings settings;
  settings.LastBackupDate = FromBits(LittleEndian(before[0].data));
  settings.BackupTime = FromBits(LittleEndian(before[1].data));
  settings.BackupPeriod = static_cast<int32_t>(LittleEndian(before[2].data));
  settings.BackupInterval = static_cast<int32_t>(LittleEndian(before[3].data));
  DueDecision decision{};
  std::string rule_failure;
  try {
    decision = Decide(settings, present);
  } catch (const Exception& failure) {
    RequireAllowed(failure,
                   {"EInvalidOp", "EZeroDivide", "EOverflow", "EDivByZero", "EConvertError"});
    rule_failure = failure.TypeName();
  }
  if (!rule_failure.empty() || !decision.Due) {
    FUZZ_REQUIRE(outcome.failure_type == rule_failure && starter.Attempts().empty() &&
                     Look(fake, kLastBackupDate) == before[0],
                 "the rules gave '%s' and not due; the check gave '%s' and %u starts",
                 rule_failure.c_str(), outcome.failure_type.c_str(), Count(starter.Attempts()));
    return;
  }
  FUZZ_REQUIRE(starter.Attempts().size() == 1, "a due backup was not started");
  if (!started) {
    FUZZ_REQUIRE(outcome.failure_type.empty() && registry.writes.empty() &&
                     Look(fake, kLastBackupDate) == before[0],
                 "a failed start went on to write or fail");
    return;
  }
  FUZZ_REQUIRE(registry.writes.size() == 1 &&
                   LittleEndian(registry.writes[0].data) == ToBits(decision.NewLastBackupDate),
               "a started backup must store the decided date once");
  if (flags & kWritesFail) {
    FUZZ_REQUIRE(outcome.failure_type == "ERegistryException" &&
                     outcome.failure_message ==
                         FillPattern(LoadText(StringId::RegSetDataFailed), {kLastBackupDate}) &&
                     Look(fake, kLastBackupDate) == before[0],
                 "a refused write gave '%s'", outcome.failure_message.c_str());
    return;
  }
  FUZZ_REQUIRE(outcome.failure_type.empty(), "a successful check raised %s",
               outcome.failure_type.c_str());
  const Stored after = Look(fake, kLastBackupDate);
  FUZZ_REQUIRE(after.type == kTypeBinary && after.data.size() == 8 &&
                   LittleEndian(after.data) == ToBits(decision.NewLastBackupDate),
               "the stored date is not the decided one");
  // Later ticks at the same moment settle at once: no launch storm. One more start is allowed
  // where the stored double rounded onto the next boundary, and one per day clamped by a month
  // step (31 down to 28).
  const bool calendar_kind =
      UnitOf(static_cast<BackupPeriodKind>(settings.BackupPeriod)).Months != 0;
  const size_t allowed_starts = calendar_kind ? 4 : 2;
  for (int tick = 0; tick < 4; ++tick) {
    const size_t starts = starter.Attempts().size();
    const Outcome next = RunCheck(services);
    if (!next.failure_type.empty()) {
      // Stepping on from a date near 9999 may leave the calendar.
      FUZZ_REQUIRE(calendar_kind && next.failure_type == "EConvertError",
                   "a later check at the same moment raised %s", next.failure_type.c_str());
      return;
    }
    if (starter.Attempts().size() == starts) {
      return;
    }
    FUZZ_REQUIRE(starter.Attempts().size() <= allowed_starts, "kind %d: %u starts at one moment",
                 settings.BackupPeriod, Count(starter.Attempts()));
  }
  Fail("kind %d: still starting after five checks at one moment", settings.BackupPeriod);
}

}  // namespace
}  // namespace autobackup::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  autobackup::fuzz::RunOne(data, size);
  return 0;
}
