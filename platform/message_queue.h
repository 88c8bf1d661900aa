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

// The methods carry the system calls' own names, PeekMessageA spelled out so that <windows.h>'s
// PeekMessage macro never renames it. Nothing the program does posts to its own queue: only the
// timer callback does, by itself.
class MessageQueue {
 public:
  virtual ~MessageQueue() = default;
  // Blocks until a message arrives that the thread has not yet seen. Looking at the
  // queue sees everything in it: a message still queued after a peek, removed or not, never ends
  // a later wait; only a new arrival does.
  virtual void WaitMessage() = 0;
  // Removes the next message of any window or none into *message without dispatching it; false,
  // *message untouched, when the queue is empty. Posted messages come first in the order posted; a
  // timer's message comes after them, and a timer that expires again before its message is taken
  // still has only one message waiting.
  virtual bool PeekMessageA(TMessage* message) = 0;
  // Starts a window-less timer that posts its message every `elapse_ms`; returns the identifier
  // the system chose, which the timer's messages carry in WParam.
  virtual uintptr_t SetTimer(uint32_t elapse_ms) = 0;
  // Stops the timer, and its waiting message goes with it.
  virtual void KillTimer(uintptr_t identifier) = 0;
};

}  // namespace autobackup
