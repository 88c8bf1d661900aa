#include "platform/win32/win32_check_lock.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <vector>

namespace autobackup {
namespace {

// Only what a zero-wait try (SYNCHRONIZE), a release (MUTEX_MODIFY_STATE) and the owner check
// (READ_CONTROL) need; asked for when opening and the most the mutex grants anyone.
constexpr DWORD kLockAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL;

// The TOKEN_USER of the process; empty when it cannot be read.
std::vector<char> ProcessUser() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return {};
  }
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<char> user(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) {
    user.clear();
  }
  CloseHandle(token);
  return user;
}

PSID SidOf(std::vector<char>& user) {
  return reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
}

// A descriptor that makes the user the owner and lets only the user and SYSTEM use the mutex.
class OwnDescriptor {
 public:
  explicit OwnDescriptor(PSID user) {
    DWORD system_size = sizeof system_;
    ok_ = CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &system_size) &&
          InitializeAcl(reinterpret_cast<ACL*>(acl_), sizeof acl_, ACL_REVISION) &&
          AddAccessAllowedAce(reinterpret_cast<ACL*>(acl_), ACL_REVISION, kLockAccess, user) &&
          AddAccessAllowedAce(reinterpret_cast<ACL*>(acl_), ACL_REVISION, kLockAccess, system_) &&
          InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
          SetSecurityDescriptorOwner(&descriptor_, user, FALSE) &&
          SetSecurityDescriptorDacl(&descriptor_, TRUE, reinterpret_cast<ACL*>(acl_), FALSE);
  }
  OwnDescriptor(const OwnDescriptor&) = delete;  // the attributes point into it
  OwnDescriptor& operator=(const OwnDescriptor&) = delete;
  // Should it not build, the system's default for the user stands in; the owner check still
  // decides whether the copies use the mutex.
  SECURITY_ATTRIBUTES* Attributes() { return ok_ ? &attributes_ : nullptr; }

 private:
  static constexpr size_t kAclRoom =
      sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE);

  bool ok_ = false;
  alignas(DWORD) BYTE system_[SECURITY_MAX_SID_SIZE] = {};
  alignas(DWORD) BYTE acl_[kAclRoom] = {};
  SECURITY_DESCRIPTOR descriptor_ = {};
  SECURITY_ATTRIBUTES attributes_ = {sizeof attributes_, &descriptor_, FALSE};
};

// The user's own mutex under `name`, made now or by another copy of the user's; null when the
// name belongs to anyone else, to an object of another type, or will not open.
HANDLE OpenOwnMutex(const std::string& name, PSID user, SECURITY_ATTRIBUTES* attributes) {
  HANDLE mutex = CreateMutexExA(attributes, name.c_str(), 0, kLockAccess);
  if (mutex == nullptr) {
    return nullptr;
  }
  // An existing object keeps the descriptor its maker gave it: another account can make the name
  // first under a NULL DACL and hold it. Only another account with the right to take ownership
  // (an administrator) can give an object this user as its owner.
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const bool own = GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                   nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
                   owner != nullptr && EqualSid(owner, user);
  LocalFree(descriptor);
  if (!own) {
    CloseHandle(mutex);
    return nullptr;
  }
  return mutex;
}

}  // namespace

std::string CheckLockName() {
  std::vector<char> user = ProcessUser();
  char* sid = nullptr;
  if (user.empty() || !ConvertSidToStringSidA(SidOf(user), &sid)) {
    return {};
  }
  // The schedule lives in the user's own registry hive: the user's SID keeps other users' copies,
  // which read another hive, apart even in the same session.
  std::string name = std::string("AutoBackup.ScheduleCheck.") + sid;
  LocalFree(sid);
  return name;
}

Win32CheckLock::Win32CheckLock(const std::string& name) {
  std::vector<char> user = ProcessUser();
  if (name.empty() || user.empty()) {
    return;
  }
  // The name is predictable, so it is guarded by its owner: the global namespace lets the same
  // user's copies in every session (which share the hive) meet, elevated or not; if someone else
  // holds the name there, the session's own namespace still keeps this session's copies apart;
  // if that is taken too, the checks run unlocked, as they would without any lock. A private
  // namespace would keep others out by construction, but Wine does not provide one, so that path
  // could not be tested with the rest of the program.
  OwnDescriptor descriptor(SidOf(user));
  for (const char* space : {"Global\\", "Local\\"}) {
    mutex_ = OpenOwnMutex(space + name, SidOf(user), descriptor.Attributes());
    if (mutex_ != nullptr) {
      return;
    }
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
  // its check; a wait that fails outright lets the check run unlocked, holding nothing.
  const DWORD answer = WaitForSingleObject(mutex_, 0);
  if (answer == WAIT_OBJECT_0 || answer == WAIT_ABANDONED) {
    holder_ = GetCurrentThreadId();
    ++holds_;
  }
  return answer != WAIT_TIMEOUT;
}

void Win32CheckLock::Release() {
  if (holder_ == GetCurrentThreadId() && holds_ != 0) {
    if (--holds_ == 0) {
      holder_ = 0;
    }
    ReleaseMutex(mutex_);
  }
}

void Win32CheckLock::ReleaseThreadHolds() {
  // Kept to plain calls: it may run on the last of a stack that has overflowed.
  if (holder_ == GetCurrentThreadId()) {
    // Cleared before the mutex is free for another thread to count its own holds.
    unsigned long holds = holds_;
    holds_ = 0;
    holder_ = 0;
    for (; holds != 0; --holds) {
      ReleaseMutex(mutex_);
    }
  }
}

}  // namespace autobackup
