// The calling thread's real message queue and its window-less timers (user32).
#include "platform/win32/win32_message_queue.h"

#include <windows.h>

namespace autobackup {

namespace {

VOID CALLBACK TickCallback(HWND, UINT, UINT_PTR, DWORD) {
  ::PostMessageA(nullptr, WM_TIMER, 0, 0);
}

}  // namespace

void Win32MessageQueue::WaitMessage() {
  ::WaitMessage();
}

bool Win32MessageQueue::PeekMessageA(TMessage* message) {
  MSG msg;
  if (!::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    return false;
  }
  message->Window = reinterpret_cast<uintptr_t>(msg.hwnd);
  message->Message = msg.message;
  message->WParam = msg.wParam;
  message->LParam = msg.lParam;
  message->Time = msg.time;
  return true;
}

// With no window the identifier 1 is ignored and the system picks its own.
uintptr_t Win32MessageQueue::SetTimer(uint32_t elapse_ms) {
  return ::SetTimer(nullptr, 1, elapse_ms, TickCallback);
}

void Win32MessageQueue::KillTimer(uintptr_t identifier) {
  ::KillTimer(nullptr, identifier);
}

}  // namespace autobackup
