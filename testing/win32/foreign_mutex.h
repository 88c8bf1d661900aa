// What another account may do to the check lock's name: make a mutex of that name first, owned by
// a SID that is not the user's and open to everyone (a NULL DACL), and hold it. The lock's
// contract test and the schedule tool's hold-lock-name make it this one way. Wine only: Windows
// refuses an owner that is a group SID the caller may not assign (ERROR_INVALID_OWNER); there only
// another account can make such an object.
#pragma once

#include <windows.h>

#include <string>

namespace autobackup {

// The mutex, held by the calling thread; null when it could not be made. GetLastError() tells
// ERROR_ALREADY_EXISTS when the name was taken before, and then it is not held.
inline HANDLE CreateForeignMutex(const std::string& name) {
  alignas(DWORD) BYTE everyone[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof everyone;
  SECURITY_DESCRIPTOR descriptor;
  CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size);
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorOwner(&descriptor, everyone, FALSE);
  SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
  return CreateMutexA(&attributes, TRUE, name.c_str());
}

}  // namespace autobackup
