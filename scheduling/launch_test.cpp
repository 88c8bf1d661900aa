// The launch's command line, its success test and its error box: with the fakes everywhere, and
// with real starts of the stand-in application on Windows.
#include "scheduling/launch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/fake/fake_check_lock.h"
#include "testing/fake/fake_message_boxes.h"
#include "testing/fake/fake_process.h"
#ifdef _WIN32
#include "e2e/standin/standin_harness.h"
#include "platform/win32/win32_process.h"
#endif

namespace autobackup {
namespace {

// The one box a failed start shows: error icon, OK only, application-modal (0x10).
void ExpectOneErrorBox(const FakeMessageBoxes& boxes) {
  ASSERT_EQ(1u, boxes.Shown().size());
  EXPECT_EQ("Auto Backup: Tarvik Email Backup not found!", boxes.Shown()[0].text);
  EXPECT_EQ("Error!", boxes.Shown()[0].caption);
  EXPECT_EQ(0x10u, boxes.Shown()[0].flags);
}

// A start inside a check whose lock could not be made.
bool Start(const std::string& directory, ProcessStarter& starter, MessageBoxes& boxes) {
  FakeCheckLock unlocked(nullptr);
  ScopedCheckLock lock(unlocked);
  return StartBackupApplication(directory, starter, boxes, lock);
}

TEST(LaunchCommandLine, QuotesTheApplicationsFullPathAndTheArgument) {
  struct Case {
    const char* what;
    std::string directory;
    std::string expected;
  };
  const Case cases[] = {
      {"plain", "C:\\Apps\\Mail\\", "\"C:\\Apps\\Mail\\TarvikEmailBackup.exe\" \"/auto\""},
      {"blanks", "C:\\Program Files\\Tarvik Tools\\",
       "\"C:\\Program Files\\Tarvik Tools\\TarvikEmailBackup.exe\" \"/auto\""},
      {"empty", "", "\"TarvikEmailBackup.exe\" \"/auto\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, LaunchCommandLine(c.directory)) << c.what;
  }
}

TEST(StartBackupApplication, StartsTheApplicationNotAProgramAtABlankSeparatedPrefix) {
  FakeProcessStarter starter;
  FakeMessageBoxes boxes;
  starter.PlaceProgram("C:\\Program Files\\Mail\\TarvikEmailBackup.exe");
  starter.PlaceProgram("C:\\Program.exe");

  EXPECT_TRUE(Start("C:\\Program Files\\Mail\\", starter, boxes));
  EXPECT_EQ("C:\\Program Files\\Mail\\TarvikEmailBackup.exe", starter.Attempts().at(0).application);
  EXPECT_EQ(1, starter.Runs("C:\\Program Files\\Mail\\TarvikEmailBackup.exe"));
  EXPECT_EQ(0, starter.Runs("C:\\Program.exe"));
  EXPECT_TRUE(boxes.Shown().empty());
}

TEST(StartBackupApplication, MissingApplicationDoesNotFallBackToAPrefixProgram) {
  FakeProcessStarter starter;
  FakeMessageBoxes boxes;
  starter.PlaceProgram("C:\\Program.exe");

  EXPECT_FALSE(Start("C:\\Program Files\\Mail\\", starter, boxes));
  EXPECT_EQ(0, starter.Runs("C:\\Program.exe"));
  ExpectOneErrorBox(boxes);
}

TEST(StartBackupApplication, FailedStartShowsExactlyOneErrorBox) {
  FakeProcessStarter starter;
  FakeMessageBoxes boxes;
  starter.PlaceProgram("C:\\Apps\\TarvikEmailBackup.exe");
  starter.FailEveryStart();

  EXPECT_FALSE(Start("C:\\Apps\\", starter, boxes));
  EXPECT_EQ(1u, starter.Attempts().size());
  ExpectOneErrorBox(boxes);
}

TEST(StartBackupApplication, WithNoDirectoryLeavesTheSearchToTheSystem) {
  FakeProcessStarter starter;
  FakeMessageBoxes boxes;
  starter.PlaceProgram("TarvikEmailBackup.exe");  // on the system's search path
  EXPECT_TRUE(Start("", starter, boxes));
  EXPECT_EQ("", starter.Attempts().at(0).application);
}

TEST(StartBackupApplication, EveryFailedStartShowsItsOwnBox) {
  FakeProcessStarter starter;
  FakeMessageBoxes boxes;

  EXPECT_FALSE(Start("C:\\Apps\\", starter, boxes));
  EXPECT_FALSE(Start("C:\\Apps\\", starter, boxes));
  EXPECT_EQ(2u, starter.Attempts().size());
  EXPECT_EQ(2u, boxes.Shown().size());
}

#ifdef _WIN32
// Real starts: the stand-in in a directory with a blank, a decoy at the blank-separated prefix.
class StartBackupApplicationOnWindows : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.Path().empty());
    directory_ = scratch_.Path() + "ab cd\\";
    decoy_ = scratch_.Path() + "ab.exe";
    ASSERT_TRUE(MakeDirectory(directory_));
    ASSERT_TRUE(CopyProgram(BesideThisProgram(AUTOBACKUP_DECOY), decoy_));
  }

  ScratchDirectory scratch_{"launch"};
  std::string directory_;
  std::string decoy_;
  Win32ProcessStarter starter_;
  FakeMessageBoxes boxes_;
};

TEST_F(StartBackupApplicationOnWindows, TheApplicationReceivesOnlyAutoAndTheDecoyNeverRuns) {
  const std::string application = directory_ + "TarvikEmailBackup.exe";
  ASSERT_TRUE(CopyProgram(BesideThisProgram(AUTOBACKUP_STANDIN), application));

  EXPECT_TRUE(Start(directory_, starter_, boxes_));
  const std::vector<StandInRun> runs = WaitForRuns(application, 1, kStandInTimeoutMs);
  EXPECT_TRUE(RunsOf(decoy_).empty());
  EXPECT_TRUE(boxes_.Shown().empty());
  ASSERT_EQ(1u, runs.size());
  EXPECT_EQ("stand-in", runs[0].role);
  EXPECT_EQ(std::vector<std::string>{"/auto"}, runs[0].arguments) << runs[0].command_line;
}

TEST_F(StartBackupApplicationOnWindows, MissingApplicationIsReportedOnceAndTheDecoyNeverRuns) {
  EXPECT_FALSE(Start(directory_, starter_, boxes_));
  ExpectOneErrorBox(boxes_);
  EXPECT_TRUE(RunsOf(decoy_).empty());
}
#endif

}  // namespace
}  // namespace autobackup
