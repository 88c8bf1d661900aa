// The calling thread's real message queue and its window-less timers (user32).
#pragma once

#include "platform/message_queue.h"

namespace autobackup {

// Every timer is started with TickCallback, which posts a bare WM_TIMER (no window, both
// parameters 0) to the thread's own queue. It runs only when something dispatches the timer's
// message: the program's own loops never do, the system's modal loops (message boxes) do.
class Win32MessageQueue : public MessageQueue {
 public:
  void WaitMessage() override;
  bool PeekMessageA(TMessage* message) override;
  uintptr_t SetTimer(uint32_t elapse_ms) override;
  void KillTimer(uintptr_t identifier) override;
};

}  // namespace autobackup
