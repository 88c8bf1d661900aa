// The check lock as a named mutex of the system, shared by the copies that use the same name.
#pragma once

#include <string>

#include "platform/check_lock.h"

namespace autobackup {

// The name the copies of the current user share; empty when the user cannot be told.
std::string CheckLockName();

class Win32CheckLock : public CheckLock {
 public:
  // CreateMutexA, once for the life of the copy. With an empty name, or when the mutex cannot be
  // created or opened, there is no lock and every check runs unlocked.
  explicit Win32CheckLock(const std::string& name);
  // Closes the handle. A copy that ends holding the mutex leaves it abandoned to the next.
  ~Win32CheckLock() override;
  Win32CheckLock(const Win32CheckLock&) = delete;
  Win32CheckLock& operator=(const Win32CheckLock&) = delete;

  bool TryAcquire() override;
  void Release() override;

 private:
  void* mutex_ = nullptr;  // HANDLE
};

}  // namespace autobackup
