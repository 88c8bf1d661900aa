// The lock that makes one check of the schedule exclusive against the checks of the user's other
// running copies, so that one due backup starts once however many copies are running.
#pragma once

namespace autobackup {

class CheckLock {
 public:
  virtual ~CheckLock() = default;
  // WaitForSingleObject with no wait: false only while another copy holds the lock. A lock whose
  // last holder ended inside it counts as taken, and so does every try when the lock could not
  // be made: the lock must never stop backups. The holder may take it again, and then has to
  // release it as often.
  virtual bool TryAcquire() = 0;
  // ReleaseMutex: gives back one TryAcquire that answered true.
  virtual void Release() = 0;
};

// Holds the lock from its construction, when it could be taken, to the end of its scope, on every
// way out of that scope.
class ScopedCheckLock {
 public:
  explicit ScopedCheckLock(CheckLock& lock) : lock_(lock), held_(lock.TryAcquire()) {}
  ~ScopedCheckLock() {
    if (held_) {
      lock_.Release();
    }
  }
  ScopedCheckLock(const ScopedCheckLock&) = delete;
  ScopedCheckLock& operator=(const ScopedCheckLock&) = delete;

  bool Held() const { return held_; }

 private:
  CheckLock& lock_;
  const bool held_;
};

}  // namespace autobackup
