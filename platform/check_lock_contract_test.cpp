// One set of expectations for the check lock: against the fake everywhere, and against the
// system's named mutex on Windows. Each copy uses its lock on a thread of its own: the system ties
// a mutex to the thread that holds it and lets that thread take it again, so one thread alone
// could never be refused.
#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/check_lock.h"
#include "platform/fake/fake_check_lock.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/win32_check_lock.h"
#endif

namespace autobackup {
namespace {

using LockMaker = std::function<std::unique_ptr<CheckLock>()>;

// One running copy: its lock is made, used and dropped on the copy's own thread, which ends with
// the copy, so a lock still held then is left abandoned.
class Copy {
 public:
  explicit Copy(LockMaker make) : thread_([this, make] { Serve(make); }) {}
  ~Copy() {
    Do(nullptr);
    thread_.join();
  }
  bool TryAcquire() {
    return Do([](CheckLock& lock) { return lock.TryAcquire(); });
  }
  void Release() {
    Do([](CheckLock& lock) {
      lock.Release();
      return true;
    });
  }

 private:
  using Task = std::function<bool(CheckLock&)>;

  // Runs `task` on the copy's thread and waits for its answer; no task ends the thread.
  bool Do(Task task) {
    std::unique_lock<std::mutex> lock(guard_);
    task_ = std::move(task);
    pending_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !pending_; });
    return answer_;
  }
  void Serve(const LockMaker& make) {
    std::unique_ptr<CheckLock> lock = make();
    for (;;) {
      std::unique_lock<std::mutex> hold(guard_);
      changed_.wait(hold, [this] { return pending_; });
      if (!task_) {
        lock.reset();
        pending_ = false;
        changed_.notify_all();
        return;
      }
      answer_ = task_(*lock);
      pending_ = false;
      changed_.notify_all();
    }
  }

  std::mutex guard_;
  std::condition_variable changed_;
  Task task_;
  bool pending_ = false;
  bool answer_ = false;
  std::thread thread_;  // last: it starts once everything above is in place
};

class LockWorld {
 public:
  virtual ~LockWorld() = default;
  // The lock of one more copy of the same user.
  virtual std::unique_ptr<CheckLock> Make() = 0;
  // The lock of a copy whose mutex could not be made.
  virtual std::unique_ptr<CheckLock> MakeUnavailable() = 0;
};

class FakeWorld : public LockWorld {
 public:
  std::unique_ptr<CheckLock> Make() override { return std::make_unique<FakeCheckLock>(&mutex_); }
  std::unique_ptr<CheckLock> MakeUnavailable() override {
    return std::make_unique<FakeCheckLock>(nullptr);
  }

 private:
  FakeNamedMutex mutex_;
};

#ifdef _WIN32
class WindowsWorld : public LockWorld {
 public:
  WindowsWorld() {
    // The user's own name, made unique to the test so that nothing left by another test or a
    // running copy of the program meets it.
    static int worlds = 0;
    name_ = CheckLockName();
    EXPECT_FALSE(name_.empty()) << "the user's name could not be made";
    name_ += ".contract-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++worlds);
    // A name that belongs to an object of another kind, on which CreateMutexA fails.
    clash_ = CreateEventA(nullptr, TRUE, FALSE, (name_ + ".event").c_str());
    EXPECT_NE(clash_, nullptr);
  }
  ~WindowsWorld() override { CloseHandle(clash_); }
  std::unique_ptr<CheckLock> Make() override { return std::make_unique<Win32CheckLock>(name_); }
  std::unique_ptr<CheckLock> MakeUnavailable() override {
    return std::make_unique<Win32CheckLock>(name_ + ".event");
  }

 private:
  std::string name_;
  HANDLE clash_ = nullptr;
};
#endif

struct WorldMaker {
  const char* name;
  std::function<std::unique_ptr<LockWorld>()> make;
};

class CheckLockContract : public testing::TestWithParam<WorldMaker> {
 protected:
  std::unique_ptr<LockWorld> world_ = GetParam().make();
  LockMaker make_ = [this] { return world_->Make(); };
};

TEST_P(CheckLockContract, AnotherCopyIsRefusedUntilTheHolderReleases) {
  Copy first(make_), second(make_);
  ASSERT_TRUE(first.TryAcquire());
  EXPECT_FALSE(second.TryAcquire());
  first.Release();
  EXPECT_TRUE(second.TryAcquire());
  EXPECT_FALSE(first.TryAcquire());
  second.Release();
  EXPECT_TRUE(first.TryAcquire());
  first.Release();
}

TEST_P(CheckLockContract, TheHolderTakesItAgainAndReleasesItAsOften) {
  Copy first(make_), second(make_);
  ASSERT_TRUE(first.TryAcquire());
  EXPECT_TRUE(first.TryAcquire());
  first.Release();
  EXPECT_FALSE(second.TryAcquire());
  first.Release();
  EXPECT_TRUE(second.TryAcquire());
  second.Release();
}

TEST_P(CheckLockContract, ACopyEndingInsideItLeavesItToTheNext) {
  Copy second(make_);
  auto first = std::make_unique<Copy>(make_);
  ASSERT_TRUE(first->TryAcquire());
  EXPECT_FALSE(second.TryAcquire());
  first.reset();
  EXPECT_TRUE(second.TryAcquire());
  Copy third(make_);
  EXPECT_FALSE(third.TryAcquire());  // and held as any other time
  second.Release();
}

TEST_P(CheckLockContract, ALockThatCouldNotBeMadeNeverRefuses) {
  LockMaker unavailable = [this] { return world_->MakeUnavailable(); };
  Copy first(unavailable), second(unavailable);
  EXPECT_TRUE(first.TryAcquire());
  EXPECT_TRUE(second.TryAcquire());
  first.Release();
  second.Release();
}

const WorldMaker kWorlds[] = {
    {"Fake", [] { return std::unique_ptr<LockWorld>(new FakeWorld); }},
#ifdef _WIN32
    {"Windows", [] { return std::unique_ptr<LockWorld>(new WindowsWorld); }},
#endif
};

INSTANTIATE_TEST_SUITE_P(Worlds, CheckLockContract, testing::ValuesIn(kWorlds),
                         [](const testing::TestParamInfo<WorldMaker>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace autobackup
