// The system's named mutex in memory, shared by the check locks of several copies of the program.
#pragma once

#include <mutex>
#include <thread>

#include "platform/check_lock.h"

namespace autobackup {

// One name's mutex: which copy holds it, on which thread, and how often.
class FakeNamedMutex {
 public:
  // Another account takes the name first (an object of its own, or of another type): no copy of
  // ours can use it.
  void TakeForAnotherOwner() { foreign_ = true; }
  bool TakenByAnotherOwner() const { return foreign_; }

 private:
  friend class FakeCheckLock;
  std::mutex guard_;  // the copies may run on threads of their own
  bool foreign_ = false;
  const void* owner_ = nullptr;
  std::thread::id thread_;
  int count_ = 0;
};

// One copy's lock. A copy holds the mutex as the system's thread does: that thread may take it
// again and must release it as often; a release by any other copy or thread does nothing.
class FakeCheckLock : public CheckLock {
 public:
  // The copy uses the first of the names that another owner has not taken; with none, the lock
  // could not be made and every try succeeds.
  explicit FakeCheckLock(FakeNamedMutex* global, FakeNamedMutex* local = nullptr);
  // A copy that ends holding the mutex abandons it: the next try of another copy takes it.
  ~FakeCheckLock() override;
  FakeCheckLock(const FakeCheckLock&) = delete;
  FakeCheckLock& operator=(const FakeCheckLock&) = delete;

  bool TryAcquire() override;
  void Release() override;
  void ReleaseThreadHolds() override;

 private:
  bool HeldHere() const;

  FakeNamedMutex* const mutex_;
};

}  // namespace autobackup
