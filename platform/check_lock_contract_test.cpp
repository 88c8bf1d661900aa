// One set of expectations for the check lock: the fake everywhere, the system's named mutex on
// Windows. The other copy runs on a thread of its own: the system lets the thread that holds a
// mutex take it again, and leaves it abandoned when that thread ends.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/fake/fake_check_lock.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/win32_check_lock.h"
#endif

namespace autobackup {
namespace {

using LockMaker = std::function<std::unique_ptr<CheckLock>()>;

// The locks of the same user's copies, and of copies whose mutex could not be made.
struct World {
  LockMaker make, make_unavailable;
  std::shared_ptr<void> keep_alive;
};

World Fake() {
  auto mutex = std::make_shared<FakeNamedMutex>();
  return {[mutex] { return std::make_unique<FakeCheckLock>(mutex.get()); },
          [] { return std::make_unique<FakeCheckLock>(nullptr); }, mutex};
}

#ifdef _WIN32
World Windows() {
  // The user's own name, made unique to the test so that nothing else meets it.
  static int worlds = 0;
  EXPECT_FALSE(CheckLockName().empty());
  const std::string name = CheckLockName() + ".contract-" + std::to_string(GetCurrentProcessId()) +
                           "-" + std::to_string(++worlds);
  // A name that belongs to an object of another kind, on which CreateMutexA fails.
  const std::string clash = name + ".event";
  std::shared_ptr<void> event(CreateEventA(nullptr, TRUE, FALSE, clash.c_str()), CloseHandle);
  return {[name] { return std::make_unique<Win32CheckLock>(name); },
          [clash] { return std::make_unique<Win32CheckLock>(clash); }, event};
}
#endif

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

TEST_P(CheckLockContract, ALockThatCouldNotBeMadeNeverRefuses) {
  const auto first = world_.make_unavailable();
  ASSERT_TRUE(first->TryAcquire());
  EXPECT_TRUE(InAnotherCopy(world_.make_unavailable, TakesAndReleases));
  first->Release();
}

INSTANTIATE_TEST_SUITE_P(Fake, CheckLockContract, testing::Values(&Fake));
#ifdef _WIN32
INSTANTIATE_TEST_SUITE_P(System, CheckLockContract, testing::Values(&Windows));
#endif

}  // namespace
}  // namespace autobackup
