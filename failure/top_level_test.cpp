#include "failure/top_level.h"

#include <gtest/gtest.h>

#include <ctime>
#include <new>
#include <stdexcept>
#include <vector>

#include "testing/fake/fake_check_lock.h"
#include "testing/fake/fake_message_boxes.h"
#include "testing/fake/fake_module_lookup.h"

namespace autobackup {
namespace {

struct ProcessEnded {
  int code;
};

void EndProcess(int code) {
  throw ProcessEnded{code};
}

class TopLevelTest : public testing::Test {
 protected:
  // Runs `body` under the top-level handler; the exit code, and the boxes shown on the way.
  int Run(const std::function<int()>& body) {
    TReportGuard guard;
    return Run(body, guard);
  }
  int Run(const std::function<int()>& body, TReportGuard& guard) {
    try {
      return RunReportingFailures(body, {modules_, boxes_, EndProcess, guard, lock_});
    } catch (const ProcessEnded& ended) {
      return ended.code;
    }
  }
  const std::string& OnlyText() {
    EXPECT_EQ(boxes_.Shown().size(), 1u);
    return boxes_.Shown().at(0).text;
  }

  FakeModuleLookup modules_{"C:\\Apps\\AutoBackup.exe"};
  FakeMessageBoxes boxes_;
  FakeCheckLock lock_{nullptr};
};

TEST_F(TopLevelTest, CleanEndShowsNothing) {
  EXPECT_EQ(Run([] { return 0; }), 0);
  EXPECT_TRUE(boxes_.Shown().empty());
}

TEST_F(TopLevelTest, RaisedFailureIsReportedAfterItsCleanupsRan) {
  std::vector<std::string> events;
  struct Cleanup {
    std::vector<std::string>& events;
    ~Cleanup() { events.push_back("cleanup"); }
  };
  modules_.AddModule(0x10000, 0x10000, "C:\\Apps\\AutoBackup.exe");
  const int code = Run([&]() -> int {
    Cleanup cleanup{events};
    ERegistryException failure("Invalid data type for 'LastBackupDate'");
    failure.SetRaiseAddress(reinterpret_cast<const void*>(0x12345));
    throw failure;
  });
  EXPECT_EQ(code, 1);
  EXPECT_EQ(events, std::vector<std::string>{"cleanup"});
  EXPECT_EQ(OnlyText(),
            "Exception ERegistryException in module AutoBackup.exe at 00002345.\r\n"
            "Invalid data type for 'LastBackupDate'.\r\n");
  EXPECT_EQ(boxes_.Shown()[0].caption, "Application Error");
  EXPECT_EQ(boxes_.Shown()[0].flags, 0x2010u);
}

TEST_F(TopLevelTest, NoSecondReportOnAnyPath) {
  // The fault filter's own report claims the same guard: a failure that reaches the top level
  // after it ends the process with no box of its own.
  TReportGuard guard;
  ASSERT_TRUE(guard.Claim());
  EXPECT_EQ(Run([]() -> int { throw EConvertError("late"); }, guard), 1);
  EXPECT_TRUE(boxes_.Shown().empty());
  // And the top level's report leaves the guard claimed for the filter.
  TReportGuard fresh;
  EXPECT_EQ(Run([]() -> int { throw EConvertError("first"); }, fresh), 1);
  EXPECT_EQ(boxes_.Shown().size(), 1u);
  EXPECT_FALSE(fresh.Claim());
}

TEST_F(TopLevelTest, MemoryExhaustionIsReportedAsOutOfMemory) {
  EXPECT_EQ(Run([]() -> int { throw std::bad_alloc(); }), 1);
  EXPECT_EQ(OnlyText(),
            "Exception EOutOfMemory in module AutoBackup.exe at 00000000.\r\nOut of memory.\r\n");
}

struct Unlisted {};

// A class name of 10000 characters: its length has more digits than the reader takes.
#define TEN_TIMES(x) TEN_JOINED(x, x, x, x, x, x, x, x, x, x)
#define TEN_JOINED(a, b, c, d, e, f, g, h, i, j) a##b##c##d##e##f##g##h##i##j
struct TEN_TIMES(TEN_TIMES(TEN_TIMES(TEN_TIMES(x)))) {};

// Plain names read as C++ spells them; anything else keeps its mangled spelling, never a cut one.
TEST_F(TopLevelTest, ForeignThrowNamesItsTypeWithNoMessage) {
  const struct {
    std::function<int()> body;
    std::string name;
  } kCases[] = {
      {[]() -> int { throw 42; }, "int"},
      {[]() -> int { throw std::runtime_error("not ours"); }, "std::runtime_error"},
      {[]() -> int { throw Unlisted(); }, "autobackup::(anonymous namespace)::Unlisted"},
      {[]() -> int { throw "text"; }, "PKc"},
      {[]() -> int { throw std::vector<int>(); }, "St6vectorIiSaIiEE"},
      {[]() -> int { throw std::exception(); }, "std::exception"},
      {[]() -> int { throw std::tm(); }, "tm"},
      {[]() -> int { throw TEN_TIMES(TEN_TIMES(TEN_TIMES(TEN_TIMES(x))))(); },
       "N10autobackup12_GLOBAL__N_110000" + std::string(10000, 'x') + "E"},
  };
  for (const auto& c : kCases) {
    boxes_ = FakeMessageBoxes();
    EXPECT_EQ(Run(c.body), 1);
    EXPECT_EQ(OnlyText(), ("Exception " + c.name + " in module AutoBackup.exe at 00000000.\r\n\r\n")
                              .substr(0, kReportCapacity - 1));
  }
}

}  // namespace
}  // namespace autobackup
