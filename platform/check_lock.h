// The lock that makes one check of the schedule exclusive against the checks of the user's other
// running copies, so that one due backup starts once however many copies are running. It covers
// reading, deciding, starting and writing, never anything that waits on a person: a copy holding
// it while a box waits for OK would starve every other copy.
#pragma once

namespace autobackup {

class CheckLock {
 public:
  virtual ~CheckLock() = default;
  // Takes the lock without waiting: false only while another copy holds it. A lock whose
  // last holder ended inside it counts as taken, and so does every try when the lock could not
  // be made: the lock must never stop backups. The holding thread may take it again, and then
  // has to release it as often.
  virtual bool TryAcquire() = 0;
  // Gives back one TryAcquire of this thread that answered true.
  virtual void Release() = 0;
  // Gives back every hold this thread has, for a thread about to wait on a person (the fatal
  // report); does nothing on a thread that holds none.
  virtual void ReleaseThreadHolds() = 0;
};

// Holds the lock from its construction, when it could be taken, to the end of its scope or an
// earlier Release, on every way out of that scope.
class ScopedCheckLock {
 public:
  explicit ScopedCheckLock(CheckLock& lock) : lock_(lock), held_(lock.TryAcquire()) {}
  ~ScopedCheckLock() { Release(); }
  ScopedCheckLock(const ScopedCheckLock&) = delete;
  ScopedCheckLock& operator=(const ScopedCheckLock&) = delete;

  bool Held() const { return held_; }
  // Gives the lock back before the scope ends; later calls do nothing.
  void Release() {
    if (held_) {
      held_ = false;
      lock_.Release();
    }
  }

 private:
  CheckLock& lock_;
  bool held_;
};

}  // namespace autobackup
