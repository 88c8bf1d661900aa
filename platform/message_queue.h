// The thread's message queue and its one-second tick source.
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

class MessageQueue {
 public:
  virtual ~MessageQueue() = default;
  // WaitMessage: blocks until a message arrives that the thread has not yet seen.
  virtual void WaitMessage() = 0;
  // PeekMessageA(no window, no range, PM_REMOVE): removes one message, never dispatched.
  virtual bool PeekMessage(TMessage* message) = 0;
  // SetTimer(no window, 1, elapse, TickCallback): returns the identifier the system chose.
  virtual uintptr_t SetTimer(uint32_t elapse_ms) = 0;
  // KillTimer(no window, identifier).
  virtual void KillTimer(uintptr_t identifier) = 0;
};

}  // namespace autobackup
