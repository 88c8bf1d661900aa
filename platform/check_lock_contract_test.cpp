// One set of expectations for the check lock: the fake everywhere, the system's named mutex on
// Windows. The other copy runs on a thread of its own: the system lets the thread that holds a
// mutex take it again, and leaves it abandoned when that thread ends.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/fake/fake_check_lock.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/win32_check_lock.h"
#endif

namespace autobackup {
namespace {

using LockMaker = std::function<std::unique_ptr<CheckLock>()>;

// How another account has taken the lock's name in one namespace before any copy ran.
enum Taken { kFree, kHeldUnderNullDacl, kOtherType };
constexpr int kGlobal = 0, kLocal = 1;

// The locks of the same user's copies, and the other account that may take their names.
struct World {
  LockMaker make;
  std::function<void(int space, Taken how)> take;
  std::shared_ptr<void> keep_alive;
};

World Fake() {
  auto names = std::make_shared<std::array<FakeNamedMutex, 2>>();
  return {
      [names] { return std::make_unique<FakeCheckLock>(&(*names)[kGlobal], &(*names)[kLocal]); },
      [names](int space, Taken) { (*names)[space].TakeForAnotherOwner(); }, names};
}

#ifdef _WIN32
// What the other account made; it holds its mutexes on threads of its own until the world ends.
struct OtherAccount {
  ~OtherAccount() {
    SetEvent(done.get());
    for (std::thread& holder : holders) {
      holder.join();
    }
  }
  std::shared_ptr<void> done{CreateEventA(nullptr, TRUE, FALSE, nullptr), CloseHandle};
  std::vector<std::shared_ptr<void>> objects;
  std::vector<std::thread> holders;
};

void Take(OtherAccount& other, const std::string& name, Taken how) {
  if (how == kOtherType) {
    other.objects.emplace_back(CreateEventA(nullptr, TRUE, FALSE, name.c_str()), CloseHandle);
    return;
  }
  // Owned by a SID that is not the user's, as another account's object is, open to everyone.
  // Wine only: Windows refuses an owner that is a group SID the caller may not assign
  // (ERROR_INVALID_OWNER); there only another account can make such an object.
  HANDLE made = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  other.holders.emplace_back([&other, name, made] {
    alignas(DWORD) BYTE everyone[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof everyone;
    SECURITY_DESCRIPTOR descriptor;
    CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size);
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(&descriptor, everyone, FALSE);
    SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
    HANDLE mutex = CreateMutexA(&attributes, TRUE, name.c_str());
    EXPECT_NE(mutex, nullptr);
    SetEvent(made);
    WaitForSingleObject(other.done.get(), INFINITE);
    CloseHandle(mutex);
  });
  WaitForSingleObject(made, INFINITE);
  CloseHandle(made);
}

World Windows() {
  // The user's own name, made unique to the test so that nothing else meets it.
  static int worlds = 0;
  EXPECT_FALSE(CheckLockName().empty());
  const std::string name = CheckLockName() + ".contract-" + std::to_string(GetCurrentProcessId()) +
                           "-" + std::to_string(++worlds);
  auto other = std::make_shared<OtherAccount>();
  return {[name] { return std::make_unique<Win32CheckLock>(name); },
          [name, other](int space, Taken how) {
            Take(*other, (space == kGlobal ? "Global\\" : "Local\\") + name, how);
          },
          other};
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
