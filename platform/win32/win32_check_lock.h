// The check lock as a named mutex of the system, shared by the copies of one user that use the
// same name, and usable by no one else.
#pragma once

#include <atomic>
#include <string>

#include "platform/check_lock.h"

namespace autobackup {

// The name the copies of the current user share, without its namespace; empty when the user
// cannot be told.
std::string CheckLockName();

class Win32CheckLock : public CheckLock {
 public:
  // Makes or opens the mutex once for the life of the copy: "Global\" + name, else "Local\" +
  // name, each only when its owner is the current user. With an empty name, or when neither
  // namespace gives such a mutex, there is no lock and every check runs unlocked.
  explicit Win32CheckLock(const std::string& name);
  // Closes the handle. A copy that ends holding the mutex leaves it abandoned to the next.
  ~Win32CheckLock() override;
  Win32CheckLock(const Win32CheckLock&) = delete;
  Win32CheckLock& operator=(const Win32CheckLock&) = delete;

  bool TryAcquire() override;
  void Release() override;
  void ReleaseThreadHolds() override;

 private:
  void* mutex_ = nullptr;  // HANDLE
  // ReleaseMutex works only on the thread that holds the mutex, so the holds are counted with
  // their thread: only that thread changes them, others only compare the thread.
  std::atomic<unsigned long> holder_{0};  // thread id, 0 for none
  unsigned long holds_ = 0;
};

}  // namespace autobackup
