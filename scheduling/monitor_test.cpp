#include "scheduling/monitor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "calendar/calendar.h"
#include "scheduling/due_rules.h"
#include "settings/schedule_key.h"
#include "testing/counting_registry.h"
#include "testing/fake/fake_check_lock.h"
#include "testing/fake/fake_clock.h"
#include "testing/fake/fake_message_boxes.h"
#include "testing/fake/fake_message_queue.h"
#include "testing/fake/fake_process.h"
#include "testing/fake/fake_registry.h"
#include "testing/schedule_writer.h"

namespace autobackup {
namespace {

// Whether a check of the copy with this lock could run now.
bool CopyChecks(CheckLock& lock) {
  return ScopedCheckLock(lock).Held();
}

constexpr char kDirectory[] = "C:\\Apps\\Mail\\";
constexpr char kApplication[] = "C:\\Apps\\Mail\\TarvikEmailBackup.exe";

class MonitorTest : public testing::Test {
 protected:
  MonitorTest() {
    starter_.PlaceProgram(kApplication);
    queue_.SetTimer(1000);
    SetClock(2024, 5, 15, 12, 0);
    boxes_.while_shown = [this] { other_copy_checks_during_boxes_ += CopyChecks(other_copy_); };
  }

  void SetClock(uint16_t year, uint16_t month, uint16_t day, uint16_t hour, uint16_t minute) {
    clock_.Set({year, month, 0, day, hour, minute, 0, 0});
  }
  double Now() {
    FakeClock copy = clock_;
    return CurrentDateTime(copy);
  }

  void Store(const char* name, RegType type, const void* data, uint32_t size) {
    RegKey key = 0;
    ASSERT_EQ(registry_.CreateKey(kRootCurrentUser, kScheduleKeyPath + 1, &key), kStatusSuccess);
    ASSERT_EQ(registry_.SetValue(key, name, type, data, size), kStatusSuccess);
    registry_.CloseKey(key);
  }
  void StoreDouble(const char* name, double value) { Store(name, kTypeBinary, &value, 8); }
  void StoreInt(const char* name, int32_t value) { Store(name, kTypeDword, &value, 4); }
  void StoreSchedule(double last, int32_t kind, int32_t interval) {
    ASSERT_TRUE(WriteSchedule(registry_, {last, 0.375, kind, interval}));
  }
  // The stored "LastBackupDate", if it is 8 bytes.
  std::optional<double> StoredLastBackupDate() {
    RegKey key = 0;
    if (registry_.OpenKey(kRootCurrentUser, kScheduleKeyPath + 1, &key) != kStatusSuccess) {
      return std::nullopt;
    }
    double value = 0;
    RegType type = 0;
    uint32_t size = sizeof value;
    const RegStatus status = registry_.QueryValue(key, kLastBackupDate, &type, &value, &size);
    registry_.CloseKey(key);
    if (status != kStatusSuccess || type != kTypeBinary || size != 8) {
      return std::nullopt;
    }
    return value;
  }

  // Timer messages that settle, then `checks` more.
  void ScriptTicks(int checks) { queue_.Repeat(FakeMessageQueue::Tick(), kSettlingTicks + checks); }

  // Runs the cycle until it stops (true) or its script runs out (false).
  bool RunCycle() {
    try {
      autobackup::Run(monitor_, kDirectory, services_);
      return true;
    } catch (const ScriptExhausted&) {
      return false;
    }
  }

  int Starts() const { return starter_.Runs(kApplication); }

  FakeRegistry registry_;
  CountingRegistry counting_{registry_};
  FakeClock clock_;
  FakeMessageQueue queue_;
  FakeProcessStarter starter_;
  FakeNamedMutex mutex_;
  FakeCheckLock lock_{&mutex_};
  FakeCheckLock other_copy_{&mutex_};
  FakeMessageBoxes boxes_;
  int other_copy_checks_during_boxes_ = 0;
  TMonitorServices services_{counting_, clock_, queue_, starter_, boxes_, lock_};
  TIdleMonitor monitor_;
};

TEST_F(MonitorTest, TwelveTimerMessagesOnlySettle) {
  StoreSchedule(Now() - 10, kDays, 1);
  queue_.Repeat(FakeMessageQueue::Tick(), 11);
  for (int i = 0; i < 5; ++i) {
    queue_.Script({FakeMessageQueue::Arrive({0, 0x0400, 0, 0, 0})});  // not a timer
  }
  queue_.Script({FakeMessageQueue::Tick()});
  EXPECT_FALSE(RunCycle());
  EXPECT_EQ(counting_.creates + counting_.presence_queries, 0);
  EXPECT_EQ(Starts(), 0);
}

TEST_F(MonitorTest, ThirteenthTimerMessageRunsTheFirstCheckAndEveryLaterOneAnother) {
  StoreSchedule(Now() - 0.5, kDays, 1);  // present but not due
  for (int ticks : {12, 13, 14, 20}) {
    counting_.Reset();
    queue_.Repeat(FakeMessageQueue::Tick(), ticks);  // each run of the cycle settles afresh
    EXPECT_FALSE(RunCycle());
    EXPECT_EQ(counting_.creates, ticks - kSettlingTicks) << ticks << " ticks";
    EXPECT_EQ(registry_.OpenHandles(), 0);
  }
}

TEST_F(MonitorTest, MissingValueStopsAfterThatCheckWithoutReading) {
  StoreDouble(kLastBackupDate, Now() - 10);
  StoreInt(kBackupPeriod, kDays);
  StoreInt(kBackupInterval, 1);
  ScriptTicks(1);
  queue_.Script({FakeMessageQueue::Tick()});  // never taken: the cycle has stopped
  EXPECT_TRUE(RunCycle());
  EXPECT_TRUE(monitor_.StopRequested);
  EXPECT_EQ(counting_.presence_queries, 4);  // all four, though the second was already missing
  EXPECT_EQ(counting_.reads, 0);
  EXPECT_EQ(Starts(), 0);
  EXPECT_TRUE(counting_.writes.empty());
  EXPECT_EQ(queue_.StepsLeft(), 1u);
}

TEST_F(MonitorTest, NoScheduleKeyCreatesItEmptyAndStops) {
  ScriptTicks(1);
  EXPECT_TRUE(RunCycle());
  RegKey key = 0;
  EXPECT_EQ(registry_.OpenKey(kRootCurrentUser, kScheduleKeyPath + 1, &key), kStatusSuccess);
  registry_.CloseKey(key);
}

TEST_F(MonitorTest, KeyThatWillNotOpenCountsAsMissing) {
  StoreSchedule(Now() - 10, kDays, 1);
  ASSERT_EQ(registry_.DenyAccess(kRootCurrentUser, kScheduleKeyPath + 1), kStatusSuccess);
  ScriptTicks(1);
  EXPECT_TRUE(RunCycle());
  EXPECT_EQ(Starts(), 0);
  EXPECT_EQ(registry_.OpenHandles(), 0);
}

TEST_F(MonitorTest, UnknownPeriodKindReadsEveryTickAndDoesNothingElse) {
  StoreSchedule(Now() - 1000, 5, 1);
  ScriptTicks(3);
  EXPECT_FALSE(RunCycle());
  EXPECT_EQ(counting_.reads, 3 * 4);
  EXPECT_TRUE(counting_.writes.empty());
  EXPECT_EQ(Starts(), 0);
  EXPECT_FALSE(monitor_.StopRequested);
}

TEST_F(MonitorTest, ValuesAreTestedThenReadInTheirFixedOrder) {
  StoreSchedule(Now() - 0.5, kDays, 1);
  ScriptTicks(1);
  EXPECT_FALSE(RunCycle());
  EXPECT_EQ(counting_.queries,
            (std::vector<std::string>{"has LastBackupDate", "has BackupTime", "has BackupPeriod",
                                      "has BackupInterval", "read LastBackupDate into 8",
                                      "read BackupTime into 8", "read BackupPeriod into 4",
                                      "read BackupInterval into 4"}));
}

TEST_F(MonitorTest, WrongTypeOfAnUnusedValueFailsAndTheKeyIsClosed) {
  StoreSchedule(Now() - 10, kDays, 1);
  StoreInt(kBackupTime, 7);
  ScriptTicks(1);
  try {
    RunCycle();
    ADD_FAILURE() << "nothing raised";
  } catch (const ERegistryException& failure) {
    EXPECT_EQ(failure.Message(), "Invalid data type for 'BackupTime'");
  }
  EXPECT_EQ(registry_.OpenHandles(), 0);
  EXPECT_EQ(Starts(), 0);
  EXPECT_TRUE(CopyChecks(other_copy_));  // released on the failure's way out
}

TEST_F(MonitorTest, DueBackupStartsOnceAndWritesTheDecidedDate) {
  const double last = Now() - 3.9;
  StoreSchedule(last, kDays, 1);
  ScriptTicks(3);
  EXPECT_FALSE(RunCycle());
  EXPECT_EQ(Starts(), 1);
  EXPECT_EQ(counting_.writes.size(), 1u);
  EXPECT_EQ(StoredLastBackupDate(), Decide({last, 0.375, kDays, 1}, Now()).NewLastBackupDate);
  EXPECT_EQ(StoredLastBackupDate(), last + 3);
  EXPECT_TRUE(boxes_.Shown().empty());
  EXPECT_TRUE(CopyChecks(other_copy_));
}

TEST_F(MonitorTest, FailedStartShowsTheBoxWritesNothingAndTriesOnTheNextTick) {
  const double last = Now() - 2;
  StoreSchedule(last, kDays, 1);
  starter_.FailEveryStart();
  ScriptTicks(3);
  EXPECT_FALSE(RunCycle());
  ASSERT_EQ(boxes_.Shown().size(), 3u);
  EXPECT_EQ(boxes_.Shown()[2].text, "Auto Backup: Tarvik Email Backup not found!");
  EXPECT_TRUE(counting_.writes.empty());
  EXPECT_EQ(StoredLastBackupDate(), last);
  EXPECT_EQ(other_copy_checks_during_boxes_, 3);  // the box waits on the user, the lock does not
  EXPECT_TRUE(CopyChecks(other_copy_));
}

TEST_F(MonitorTest, CheckFindingTheLockTakenAsksNothingAndTheNextTickTriesAgain) {
  const double last = Now() - 3.9;
  StoreSchedule(last, kDays, 1);
  ASSERT_TRUE(other_copy_.TryAcquire());  // another copy is inside its check
  ScriptTicks(1);
  int asked = -1, started = -1;
  queue_.Script({FakeMessageQueue::Hook([&] {
                   asked = counting_.creates + counting_.opens + counting_.presence_queries +
                           counting_.reads + static_cast<int>(counting_.writes.size()) +
                           counting_.closes;
                   started = Starts();
                   other_copy_.Release();
                 }),
                 FakeMessageQueue::Tick()});
  EXPECT_FALSE(RunCycle());
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(started, 0);
  EXPECT_EQ(Starts(), 1);
  EXPECT_EQ(StoredLastBackupDate(), last + 3);
}

TEST_F(MonitorTest, LockTakenForAMinuteIsCheckedWithoutUntilATickGetsItAgain) {
  StoreSchedule(Now() - 3.9, kDays, 1);
  ASSERT_TRUE(other_copy_.TryAcquire());  // a copy stopped inside its check
  ScriptTicks(kLockPatienceTicks - 1);
  int checks_after_59 = -1, checks_after_61 = -1, checks_after_120 = -1;
  queue_.Script({FakeMessageQueue::Hook([&] { checks_after_59 = counting_.creates; }),
                 FakeMessageQueue::Tick(), FakeMessageQueue::Hook([&] { other_copy_.Release(); }),
                 FakeMessageQueue::Tick(), FakeMessageQueue::Hook([&] {
                   checks_after_61 = counting_.creates;
                   EXPECT_TRUE(other_copy_.TryAcquire());  // the 61st check gave it back
                 })});
  // Taking turns again: the minute counts anew from the 61st, which got the lock.
  queue_.Repeat(FakeMessageQueue::Tick(), kLockPatienceTicks - 1);
  queue_.Script({FakeMessageQueue::Hook([&] { checks_after_120 = counting_.creates; }),
                 FakeMessageQueue::Tick()});
  EXPECT_FALSE(RunCycle());
  EXPECT_EQ(checks_after_59, 0);
  EXPECT_EQ(checks_after_61, 2);  // the 60th without the lock, the 61st with it
  EXPECT_EQ(checks_after_120, 2);
  EXPECT_EQ(Starts(), 1);
  EXPECT_EQ(counting_.creates, 3);  // the 121st without it
}

TEST_F(MonitorTest, ChangesBetweenTicksAreSeenOnTheNextTick) {
  const double last = Now() - 2.5;
  StoreSchedule(last, kDays, 7);  // not due
  ScriptTicks(1);
  queue_.Script(
      {FakeMessageQueue::Hook([&] { StoreInt(kBackupInterval, 2); }), FakeMessageQueue::Tick()});
  EXPECT_FALSE(RunCycle());
  EXPECT_EQ(Starts(), 1);
  EXPECT_EQ(StoredLastBackupDate(), last + 2);
}

TEST_F(MonitorTest, ClockJumpingTenYearsAheadStartsOnceToTheLatestBoundary) {
  const double last = Now() - 0.25;
  StoreSchedule(last, kWeeks, 1);
  ScriptTicks(1);  // not due
  queue_.Script({FakeMessageQueue::Hook([&] { SetClock(2034, 5, 15, 12, 0); }),
                 FakeMessageQueue::Tick(), FakeMessageQueue::Tick()});
  EXPECT_FALSE(RunCycle());
  EXPECT_EQ(Starts(), 1);
  EXPECT_EQ(counting_.writes.size(), 1u);
  const double stored = *StoredLastBackupDate();
  EXPECT_LE(stored, Now());
  EXPECT_GT(stored + 7, Now());
  EXPECT_NEAR(std::remainder(stored - last, 7.0), 0.0, 1e-6);
}

TEST_F(MonitorTest, ClockGoingBackStartsNothing) {
  const double last = Now() - 0.5;  // twelve hours: due on the hour rule
  StoreSchedule(last, kHours, 1);
  queue_.Repeat(FakeMessageQueue::Tick(), kSettlingTicks);
  queue_.Script({FakeMessageQueue::Hook([&] { SetClock(2020, 1, 1, 0, 0); }),
                 FakeMessageQueue::Tick(), FakeMessageQueue::Tick()});
  EXPECT_FALSE(RunCycle());
  EXPECT_EQ(counting_.reads, 2 * 4);
  EXPECT_EQ(Starts(), 0);
  EXPECT_TRUE(counting_.writes.empty());
  EXPECT_EQ(StoredLastBackupDate(), last);
}

TEST(CheckSchedule, AsksTheRegistryExactlyWhatOneCheckNeeds) {
  FakeRegistry registry;
  CountingRegistry counting(registry);
  FakeClock clock;
  FakeMessageQueue queue;
  FakeProcessStarter starter;
  FakeMessageBoxes boxes;
  FakeCheckLock lock(nullptr);
  starter.PlaceProgram(kApplication);
  TMonitorServices services{counting, clock, queue, starter, boxes, lock};
  ASSERT_TRUE(WriteSchedule(registry, {CurrentDateTime(clock) - 1.5, 0, kDays, 1}));

  TIdleMonitor monitor;
  for (int due = 1; due >= 0; --due) {  // first due, then not
    counting.Reset();
    EXPECT_FALSE(CheckSchedule(monitor, kDirectory, services));
    EXPECT_EQ(counting.creates, 1);
    EXPECT_EQ(counting.opens, 0);
    EXPECT_EQ(counting.presence_queries, 4);
    EXPECT_EQ(counting.reads, 4);
    EXPECT_EQ(counting.writes.size(), size_t(due));
    EXPECT_EQ(counting.closes, 1);
    EXPECT_EQ(registry.OpenHandles(), 0);
  }
}

}  // namespace
}  // namespace autobackup
