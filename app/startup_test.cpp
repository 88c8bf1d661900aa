#include "app/startup.h"

#include <gtest/gtest.h>

#include "calendar/calendar.h"
#include "testing/fake/fake_check_lock.h"
#include "testing/fake/fake_clock.h"
#include "testing/fake/fake_message_boxes.h"
#include "testing/fake/fake_message_queue.h"
#include "testing/fake/fake_module_lookup.h"
#include "testing/fake/fake_process.h"
#include "testing/fake/fake_registry.h"
#include "testing/schedule_writer.h"

namespace autobackup {
namespace {

TEST(ProgramDirectoryOf, KeepsEverythingUpToTheLastBackslashOrColon) {
  const struct {
    const char* path;
    const char* directory;
  } cases[] = {
      {"C:\\Apps\\Mail\\AutoBackup.exe", "C:\\Apps\\Mail\\"},
      {"C:\\AutoBackup.exe", "C:\\"},
      {"\\AutoBackup.exe", "\\"},
      {"C:AutoBackup.exe", "C:"},
      {"\\\\server\\share\\AutoBackup.exe", "\\\\server\\share\\"},
      {"AutoBackup.exe", ""},
      {"", ""},
      {"C:\\Program Files\\Mail Tools\\AutoBackup.exe", "C:\\Program Files\\Mail Tools\\"},
      {"C:\\Почта 邮件\\AutoBackup.exe", "C:\\Почта 邮件\\"},
      // "ш" is D1 88, and 88 would lead a double-byte character that swallows the backslash.
      {"C:\\ш\\AutoBackup.exe", "C:\\ш\\"},
      {"C:邮件.exe", "C:"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ProgramDirectoryOf(c.path), c.directory) << c.path;
  }
}

class RunSchedulerTest : public testing::Test {
 protected:
  FakeModuleLookup modules_{"C:\\Apps\\Mail\\AutoBackup.exe"};
  FakeRegistry registry_;
  FakeClock clock_;
  FakeMessageQueue queue_;
  FakeProcessStarter starter_;
  FakeMessageBoxes boxes_;
  FakeNamedMutex mutex_;
  FakeCheckLock lock_{&mutex_};
  TMonitorServices services_{registry_, clock_, queue_, starter_, boxes_, lock_};
};

TEST_F(RunSchedulerTest, HandshakeStopsTheStartupTimerAndEndsWithExitCodeZero) {
  // No schedule: the handshake's tick, twelve settling ticks, then the check that stops.
  queue_.Repeat(FakeMessageQueue::Tick(), 1 + kSettlingTicks + 1);
  EXPECT_EQ(RunScheduler(modules_, services_), 0);
  ASSERT_EQ(queue_.SetTimerCalls().size(), 2u);
  EXPECT_EQ(queue_.SetTimerCalls()[0], 1000u);
  EXPECT_EQ(queue_.SetTimerCalls()[1], 1000u);
  EXPECT_EQ(queue_.KillTimerCalls().size(), 2u);
  EXPECT_TRUE(queue_.LiveTimers().empty());
  EXPECT_EQ(queue_.StepsLeft(), 0u);
  EXPECT_EQ(registry_.OpenHandles(), 0);
}

TEST_F(RunSchedulerTest, OtherFirstMessageLeavesTheStartupTimerRunning) {
  queue_.Script({FakeMessageQueue::Arrive({0, 0x0400, 0, 0, 0})});
  // Both timers now tick; more ticks than the cycle needs, whatever their pace.
  queue_.Repeat(FakeMessageQueue::Tick(), 2 * (kSettlingTicks + 1));
  EXPECT_EQ(RunScheduler(modules_, services_), 0);
  EXPECT_EQ(queue_.KillTimerCalls().size(), 1u);
  EXPECT_EQ(queue_.LiveTimers().size(), 1u);  // the start-up timer, never stopped
}

TEST_F(RunSchedulerTest, LaunchesFromTheProgramsOwnDirectory) {
  FakeModuleLookup long_path(std::string("C:\\") + std::string(300, 'd') + "\\AutoBackup.exe");
  const std::string application = "C:\\" + std::string(300, 'd') + "\\TarvikEmailBackup.exe";
  starter_.PlaceProgram(application);
  ASSERT_TRUE(WriteSchedule(registry_, {CurrentDateTime(clock_) - 2, 0, kDays, 1}));
  queue_.Repeat(FakeMessageQueue::Tick(), 1 + kSettlingTicks + 1);
  // Then the stored date is damaged, and the failure of the next check ends the run.
  queue_.Script({FakeMessageQueue::Hook([&] {
                   RegKey open = 0;
                   registry_.OpenKey(kRootCurrentUser, "Software\\Tarvik Tools\\TarvikEmailBackup",
                                     &open);
                   const int32_t dword = 1;
                   registry_.SetValue(open, "LastBackupDate", kTypeDword, &dword, 4);
                   registry_.CloseKey(open);
                 }),
                 FakeMessageQueue::Tick()});
  EXPECT_THROW(RunScheduler(long_path, services_), ERegistryException);
  EXPECT_EQ(starter_.Runs(application), 1);
  EXPECT_EQ(registry_.OpenHandles(), 0);
}

}  // namespace
}  // namespace autobackup
