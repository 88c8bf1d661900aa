// A message queue for the tests: posted messages and timers behave as the real queue's do, and a
// script supplies what arrives while the code under test waits.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <vector>

#include "platform/message_queue.h"

namespace autobackup {

// The code under test waited when nothing new was queued and the script had run out: the real
// queue would block for ever. Test-only; no failure type of the program derives from it.
class ScriptExhausted : public std::logic_error {
 public:
  ScriptExhausted();
};

// A wait with nothing new in the queue takes script steps until something new arrives. A wait
// also counts as looking at the queue, as documented for Windows (Wine returns from a second wait
// at once, so nothing should rely on either).
class FakeMessageQueue : public MessageQueue {
 public:
  class Step {
   private:
    friend class FakeMessageQueue;
    enum class Kind { kTick, kArrive, kHook };
    Kind kind_ = Kind::kTick;
    TMessage message_;
    std::function<void()> hook_;
  };
  // Every live timer expires once.
  static Step Tick();
  // A message is posted to the queue (from elsewhere, or by a callback).
  static Step Arrive(const TMessage& message);
  // The test acts here: changes the registry or the clock, posts, kills a timer.
  static Step Hook(std::function<void()> hook);

  // Appends to the script.
  void Script(std::initializer_list<Step> steps);
  void Repeat(const Step& step, int times);

  // Acting at once instead of through the script.
  void ExpireTimers();
  // PeekMessageA with PM_NOREMOVE.
  bool PeekWithoutRemoving(TMessage* message);
  // PostMessageA(no window, ...) by the test, to the queue's own thread.
  void PostMessageA(uint32_t message, uintptr_t wparam, intptr_t lparam);

  void WaitMessage() override;
  bool PeekMessageA(TMessage* message) override;
  uintptr_t SetTimer(uint32_t elapse_ms) override;
  void KillTimer(uintptr_t identifier) override;

  size_t StepsLeft() const { return script_.size(); }
  int Waits() const { return waits_; }
  int Peeks() const { return peeks_; }
  // The elapse of every SetTimer call and the identifier of every KillTimer call, in order.
  const std::vector<uint32_t>& SetTimerCalls() const { return set_timer_calls_; }
  const std::vector<uintptr_t>& KillTimerCalls() const { return kill_timer_calls_; }
  std::vector<uintptr_t> LiveTimers() const;

 private:
  struct Timer {
    uintptr_t identifier;
    bool pending;  // its message waits in the queue
  };
  void Enqueue(const TMessage& message);
  // Takes the next message, or false; `remove` as PM_REMOVE.
  bool Look(TMessage* message, bool remove);

  std::deque<Step> script_;
  std::deque<TMessage> posted_;
  std::vector<Timer> timers_;  // in the order started, which is the order their messages come
  bool news_ = false;          // something arrived since the queue was last looked at
  uintptr_t next_identifier_ = 0x7FFF;  // like the system's choice: never the 1 asked for
  int waits_ = 0;
  int peeks_ = 0;
  std::vector<uint32_t> set_timer_calls_;
  std::vector<uintptr_t> kill_timer_calls_;
};

}  // namespace autobackup
