#include "platform/win32/win32_check_lock.h"

#include <windows.h>

#include <sddl.h>

#include <vector>

namespace autobackup {

std::string CheckLockName() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return {};
  }
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<char> user(size);
  char* sid = nullptr;
  const bool known =
      size != 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
      ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid);
  CloseHandle(token);
  if (!known) {
    return {};
  }
  // The schedule lives in the user's own registry hive. The user's SID keeps other users' copies,
  // which read another hive, apart even in the same session; the global namespace lets the same
  // user's copies in different sessions, which share the hive, meet.
  std::string name = std::string("Global\\AutoBackup.ScheduleCheck.") + sid;
  LocalFree(sid);
  return name;
}

Win32CheckLock::Win32CheckLock(const std::string& name) {
  if (!name.empty()) {
    mutex_ = CreateMutexA(nullptr, FALSE, name.c_str());
  }
}

Win32CheckLock::~Win32CheckLock() {
  if (mutex_ != nullptr) {
    CloseHandle(mutex_);
  }
}

bool Win32CheckLock::TryAcquire() {
  if (mutex_ == nullptr) {
    return true;
  }
  // Only another holder refuses. WAIT_ABANDONED hands over the mutex of a copy that ended inside
  // its check; a wait that fails outright lets the check run unlocked.
  return WaitForSingleObject(mutex_, 0) != WAIT_TIMEOUT;
}

void Win32CheckLock::Release() {
  if (mutex_ != nullptr) {
    ReleaseMutex(mutex_);
  }
}

}  // namespace autobackup
