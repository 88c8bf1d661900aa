// The least a resident program with AutoBackup.exe's tick can be: the same timer, wait and
// removal of messages and nothing else, for comparing CPU time and memory. With "calls", every
// tick after the handshake's and the settling ones also makes the Win32 calls of a check.
// usage: bare_loop [TICKS [calls]]   (default 80 ticks; ends after that many timer messages)
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "bench/wine/bare_calls.h"
#include "scheduling/monitor.h"

namespace {

VOID CALLBACK TickCallback(HWND, UINT, UINT_PTR, DWORD) {
  PostMessageA(nullptr, WM_TIMER, 0, 0);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const int ticks = __argc > 1 ? std::atoi(__argv[1]) : 80;
  const bool calls = __argc > 2 && std::strcmp(__argv[2], "calls") == 0;
  const UINT_PTR timer = SetTimer(nullptr, 1, autobackup::kTickMilliseconds, TickCallback);
  int seen = 0;
  while (seen < ticks) {
    WaitMessage();
    MSG message;
    if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) && message.message == WM_TIMER) {
      // The start-up handshake and the settling ticks come first, as in AutoBackup.exe.
      if (++seen > 1 + autobackup::kSettlingTicks && calls) {
        autobackup::BareCheckCalls();
      }
    }
  }
  KillTimer(nullptr, timer);
  return 0;
}
