// One set of expectations for the check lock: the fake everywhere, the system's named mutex on
// Windows. The other copy runs on a thread of its own: the system lets the thread that holds a
// mutex take it again, and leaves it abandoned when that thread ends.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <thread>

#include "testing/check_lock_test_backends.h"

namespace autobackup {
namespace {

// A copy that starts, runs `body` on its lock and ends, all on a thread of its own.
bool InAnotherCopy(const LockMaker& make, const std::function<bool(CheckLock&)>& body) {
  bool answer = false;
  std::thread([&] { answer = body(*make()); }).join();
  return answer;
}

bool TakesAndReleases(CheckLock& lock) {
  return ScopedCheckLock(lock).Held();
}

class CheckLockContract : public testing::TestWithParam<World (*)()> {
 protected:
  // Where the 32-bit Wine loader runs through qemu-user, threads that start and end beside one
  // the system started suspended and resumed (GoogleTest's own, once a trace is kept) crash the
  // emulator or hang it, whoever's code they run: every copy here runs on a thread of its own.
  void SetUp() override {
    if (const char* emulation = std::getenv("AUTOBACKUP_EMULATION")) {
      GTEST_SKIP() << emulation << ", where threads started beside a resumed one crash it";
    }
  }

  World world_ = GetParam()();
};

TEST_P(CheckLockContract, AnotherCopyIsRefusedUntilTheHolderHasReleasedAsOftenAsItTook) {
  const auto holder = world_.make();
  ASSERT_TRUE(holder->TryAcquire());
  EXPECT_TRUE(holder->TryAcquire());
  holder->Release();
  EXPECT_FALSE(InAnotherCopy(world_.make, TakesAndReleases));
  holder->Release();
  EXPECT_TRUE(InAnotherCopy(world_.make, TakesAndReleases));
}

TEST_P(CheckLockContract, ACopyEndingInsideItLeavesItToTheNext) {
  EXPECT_TRUE(InAnotherCopy(world_.make, [](CheckLock& lock) { return lock.TryAcquire(); }));
  const auto next = world_.make();
  ASSERT_TRUE(next->TryAcquire());
  EXPECT_FALSE(InAnotherCopy(world_.make, TakesAndReleases));
  next->Release();
}

TEST_P(CheckLockContract, ReleasingThreadHoldsGivesBackEveryTakeOfThatThreadOnly) {
  const auto holder = world_.make();
  ASSERT_TRUE(holder->TryAcquire() && holder->TryAcquire());
  std::thread([&] { holder->ReleaseThreadHolds(); }).join();  // a thread that holds nothing
  EXPECT_FALSE(InAnotherCopy(world_.make, TakesAndReleases));
  holder->ReleaseThreadHolds();
  EXPECT_TRUE(InAnotherCopy(world_.make, TakesAndReleases));
}

TEST_P(CheckLockContract, NamesAnotherAccountTookNeverStopOurCopies) {
  const struct {
    Taken global, local;
    bool exclusive;  // our copies still meet, in whichever namespace is left to them
  } cases[] = {
      {kHeldUnderNullDacl, kFree, true},       {kOtherType, kFree, true},
      {kFree, kHeldUnderNullDacl, true},       {kHeldUnderNullDacl, kHeldUnderNullDacl, false},
      {kOtherType, kHeldUnderNullDacl, false}, {kOtherType, kOtherType, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "global " << c.global << ", local " << c.local);
    World world = GetParam()();
    const Taken taken[] = {c.global, c.local};
    for (int space : {kGlobal, kLocal}) {
      if (taken[space] != kFree) {
        world.take(space, taken[space]);
      }
    }
    const auto first = world.make();
    ASSERT_TRUE(first->TryAcquire());
    EXPECT_EQ(InAnotherCopy(world.make, TakesAndReleases), !c.exclusive);
    first->Release();
    EXPECT_TRUE(InAnotherCopy(world.make, TakesAndReleases));
  }
}

INSTANTIATE_TEST_SUITE_P(Fake, CheckLockContract, testing::Values(&Fake));
#ifdef _WIN32
INSTANTIATE_TEST_SUITE_P(System, CheckLockContract, testing::Values(&Windows));
#endif

}  // namespace
}  // namespace autobackup
