// The thread's own message queue and its window-less periodic timers: the tick source and the
// wait of the monitor loop.
#pragma once

#include <cstdint>

namespace autobackup {

constexpr uint32_t kMessageTimer = 0x0113;  // WM_TIMER

// The fields of a Win32 MSG that the program looks at.
struct TMessage {
  uintptr_t Window = 0;
  uint32_t Message = 0;
  uintptr_t WParam = 0;
  intptr_t LParam = 0;
  uint32_t Time = 0;
};

// The methods carry the Win32 functions' own names; PeekMessageA is spelled out so that
// <windows.h>'s PeekMessage macro never renames it. Nothing the program does posts to its own
// queue: only the timer callback does, by itself.
class MessageQueue {
 public:
  virtual ~MessageQueue() = default;
  // WaitMessage: blocks until a message arrives that the thread has not yet seen. Looking at the
  // queue sees everything in it: a message still queued after a peek, removed or not, never ends
  // a later wait; only a new arrival does.
  virtual void WaitMessage() = 0;
  // PeekMessageA(no window, no range, PM_REMOVE): removes the next message into *message without
  // dispatching it; false, *message untouched, when the queue is empty. Posted messages come
  // first in the order posted; a timer's message comes after them, and a timer that expires again
  // before its message is taken still has only one message waiting.
  virtual bool PeekMessageA(TMessage* message) = 0;
  // SetTimer(no window, 1, elapse, TickCallback): returns the identifier the system chose. The
  // timer's messages carry that identifier in WParam.
  virtual uintptr_t SetTimer(uint32_t elapse_ms) = 0;
  // KillTimer(no window, identifier): the timer stops, and its waiting message goes with it.
  virtual void KillTimer(uintptr_t identifier) = 0;
};

}  // namespace autobackup
