// How a start finds its program and what it answers, for the fake and, on Windows, for
// CreateProcessW itself (with copies of the stand-in application, which log every start).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "scheduling/launch.h"
#include "testing/process_test_backends.h"

namespace autobackup {
namespace {

class ProcessContract : public testing::TestWithParam<WorldMaker> {
 protected:
  void SetUp() override {
    world_ = GetParam().make();
    root_ = world_->Root();
    ASSERT_FALSE(root_.empty());
    // The program in a directory with a blank; the prefix program at its first blank.
    program_ = root_ + "ab cd\\app.exe";
    prefix_program_ = root_ + "ab.exe";
    ASSERT_TRUE(world_->MakeDirectory(root_ + "ab cd"));
    PlaceProgram(program_);
  }

  bool Start(const std::string& command_line, const std::string& application = "") {
    return world_->Starter().Start(application, command_line, kReadyWaitMs);
  }
  size_t Runs(const std::string& path, size_t expected) { return world_->Runs(path, expected); }

  void PlaceProgram(const std::string& path) { ASSERT_TRUE(world_->PlaceProgram(path)); }

  std::unique_ptr<ProcessWorld> world_;
  std::string root_;
  std::string program_;
  std::string prefix_program_;
};

TEST_P(ProcessContract, QuotedPathStartsExactlyThatProgram) {
  PlaceProgram(prefix_program_);
  EXPECT_TRUE(Start("\"" + program_ + "\" \"/auto\""));
  EXPECT_EQ(1u, Runs(program_, 1));
  EXPECT_EQ(0u, Runs(prefix_program_, 0));
}

// Why the launch quotes its path: unquoted, the system tries the text up to each blank in turn
// (adding ".exe"), so a program at a blank-separated prefix wins over the one meant.
TEST_P(ProcessContract, UnquotedPathStartsTheFirstProgramAtABlank) {
  if (root_.find(' ') != std::string::npos) {
    GTEST_SKIP() << "the scratch directory itself holds a blank: " << root_;
  }
  EXPECT_TRUE(Start(program_ + " \"/auto\""));
  EXPECT_EQ(1u, Runs(program_, 1));

  PlaceProgram(prefix_program_);
  EXPECT_TRUE(Start(program_ + " \"/auto\""));
  EXPECT_EQ(1u, Runs(prefix_program_, 1));
  EXPECT_EQ(1u, Runs(program_, 1));
}

// The application name given, the command line plays no part in finding the program.
TEST_P(ProcessContract, GivenApplicationNameStartsExactlyThatProgram) {
  PlaceProgram(prefix_program_);
  EXPECT_TRUE(Start(program_ + " \"/auto\"", program_));
  EXPECT_EQ(1u, Runs(program_, 1));
  EXPECT_EQ(0u, Runs(prefix_program_, 0));
}

TEST_P(ProcessContract, MissingProgramOrDirectoryFails) {
  PlaceProgram(prefix_program_);
  for (const std::string& missing : {root_ + "ab cd\\missing.exe", root_ + "nowhere\\app.exe"}) {
    EXPECT_FALSE(Start("\"" + missing + "\" \"/auto\"")) << missing;
    EXPECT_FALSE(Start(missing + " \"/auto\"", missing)) << missing;
  }
  EXPECT_EQ(0u, Runs(prefix_program_, 0));
}

const WorldMaker kWorlds[] = {
    {"Fake", [] { return std::unique_ptr<ProcessWorld>(new FakeWorld); }},
#ifdef _WIN32
    {"Windows", [] { return std::unique_ptr<ProcessWorld>(new WindowsWorld); }},
#endif
};

INSTANTIATE_TEST_SUITE_P(Worlds, ProcessContract, testing::ValuesIn(kWorlds),
                         [](const testing::TestParamInfo<WorldMaker>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace autobackup
