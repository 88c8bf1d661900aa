// The worlds the check lock's contract runs in: the user's copies' locks, and the other account
// that may take their names first, in memory everywhere and, on Windows, with the system's named
// mutexes (under a name made unique to the test, so that nothing else meets it).
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "testing/fake/fake_check_lock.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/win32_check_lock.h"
#include "testing/win32/foreign_mutex.h"
#endif

namespace autobackup {

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

inline World Fake() {
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

inline void Take(OtherAccount& other, const std::string& name, Taken how) {
  if (how == kOtherType) {
    other.objects.emplace_back(CreateEventA(nullptr, TRUE, FALSE, name.c_str()), CloseHandle);
    return;
  }
  // Held on a thread of its own, as the other account's process would hold it.
  HANDLE made = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  other.holders.emplace_back([&other, name, made] {
    HANDLE mutex = CreateForeignMutex(name);
    EXPECT_NE(mutex, nullptr);
    SetEvent(made);
    WaitForSingleObject(other.done.get(), INFINITE);
    CloseHandle(mutex);
  });
  WaitForSingleObject(made, INFINITE);
  CloseHandle(made);
}

inline World Windows() {
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

}  // namespace autobackup
