#include "platform/win32/win32_clock.h"

#include <windows.h>

namespace autobackup {

TLocalTime Win32Clock::LocalTime() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return {now.wYear, now.wMonth,  now.wDayOfWeek, now.wDay,
          now.wHour, now.wMinute, now.wSecond,    now.wMilliseconds};
}

}  // namespace autobackup
