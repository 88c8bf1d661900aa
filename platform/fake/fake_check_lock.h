// The system's named mutex in memory, shared by the check locks of several copies of the program.
#pragma once

#include <mutex>

#include "platform/check_lock.h"

namespace autobackup {

// One name's mutex: which copy holds it, and how often.
class FakeNamedMutex {
 private:
  friend class FakeCheckLock;
  std::mutex guard_;  // the copies may run on threads of their own
  const void* owner_ = nullptr;
  int count_ = 0;
};

// One copy's lock. A copy holds the mutex as the system's thread does: it may take it again and
// must release it as often; a release by a copy that does not hold it does nothing.
class FakeCheckLock : public CheckLock {
 public:
  // With no mutex the lock could not be made: every try succeeds.
  explicit FakeCheckLock(FakeNamedMutex* mutex) : mutex_(mutex) {}
  // A copy that ends holding the mutex abandons it: the next try of another copy takes it.
  ~FakeCheckLock() override;
  FakeCheckLock(const FakeCheckLock&) = delete;
  FakeCheckLock& operator=(const FakeCheckLock&) = delete;

  bool TryAcquire() override;
  void Release() override;

 private:
  FakeNamedMutex* const mutex_;
};

}  // namespace autobackup
