#include "bench/wine/bare_calls.h"

#include <windows.h>

#include "settings/schedule_key.h"

namespace autobackup {

void BareCheckCalls() {
  // The lock around the check, made once as the program makes it.
  static const HANDLE lock = CreateMutexA(nullptr, FALSE, nullptr);
  WaitForSingleObject(lock, 0);
  const char* const names[4] = {kLastBackupDate, kBackupTime, kBackupPeriod, kBackupInterval};
  HKEY key = nullptr;
  DWORD disposition = 0;
  RegCreateKeyExA(HKEY_CURRENT_USER, kScheduleKeyPath + 1, 0, nullptr, REG_OPTION_NON_VOLATILE,
                  KEY_ALL_ACCESS, nullptr, &key, &disposition);
  for (const char* name : names) {
    DWORD type = 0, size = 0;
    RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
  }
  for (int i = 0; i < 4; ++i) {
    BYTE buffer[8];
    DWORD type = 0, size = i < 2 ? 8 : 4;
    RegQueryValueExA(key, names[i], nullptr, &type, buffer, &size);
  }
  SYSTEMTIME now;
  GetLocalTime(&now);
  RegCloseKey(key);
  ReleaseMutex(lock);
}

}  // namespace autobackup
