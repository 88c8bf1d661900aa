// A message queue for the tests, driven by a script.
#include "testing/fake/fake_message_queue.h"

#include <algorithm>
#include <utility>

namespace autobackup {

namespace {

// Stands for the callback's handle that a real timer message carries in LParam.
constexpr intptr_t kTimerCallbackTag = 1;

}  // namespace

ScriptExhausted::ScriptExhausted()
    : std::logic_error("WaitMessage with nothing new queued and the script run out") {}

FakeMessageQueue::Step FakeMessageQueue::Tick() {
  return Step();
}

FakeMessageQueue::Step FakeMessageQueue::Arrive(const TMessage& message) {
  Step step;
  step.kind_ = Step::Kind::kArrive;
  step.message_ = message;
  return step;
}

FakeMessageQueue::Step FakeMessageQueue::Hook(std::function<void()> hook) {
  Step step;
  step.kind_ = Step::Kind::kHook;
  step.hook_ = std::move(hook);
  return step;
}

void FakeMessageQueue::Script(std::initializer_list<Step> steps) {
  script_.insert(script_.end(), steps.begin(), steps.end());
}

void FakeMessageQueue::Repeat(const Step& step, int times) {
  for (int i = 0; i < times; ++i) {
    script_.push_back(step);
  }
}

// A timer whose message still waits gets no second one, and its expiry is no news.
void FakeMessageQueue::ExpireTimers() {
  for (Timer& timer : timers_) {
    if (!timer.pending) {
      timer.pending = true;
      news_ = true;
    }
  }
}

bool FakeMessageQueue::PeekWithoutRemoving(TMessage* message) {
  return Look(message, false);
}

void FakeMessageQueue::WaitMessage() {
  ++waits_;
  while (!news_) {
    if (script_.empty()) {
      throw ScriptExhausted();
    }
    Step step = std::move(script_.front());
    script_.pop_front();
    switch (step.kind_) {
      case Step::Kind::kTick:
        ExpireTimers();
        break;
      case Step::Kind::kArrive:
        Enqueue(step.message_);
        break;
      case Step::Kind::kHook:
        step.hook_();
        break;
    }
  }
  news_ = false;
}

bool FakeMessageQueue::PeekMessageA(TMessage* message) {
  ++peeks_;
  return Look(message, true);
}

void FakeMessageQueue::PostMessageA(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  TMessage posted;
  posted.Message = message;
  posted.WParam = wparam;
  posted.LParam = lparam;
  Enqueue(posted);
}

void FakeMessageQueue::Enqueue(const TMessage& message) {
  posted_.push_back(message);
  news_ = true;
}

uintptr_t FakeMessageQueue::SetTimer(uint32_t elapse_ms) {
  set_timer_calls_.push_back(elapse_ms);
  timers_.push_back({next_identifier_, false});
  return next_identifier_--;
}

void FakeMessageQueue::KillTimer(uintptr_t identifier) {
  kill_timer_calls_.push_back(identifier);
  timers_.erase(std::remove_if(timers_.begin(), timers_.end(),
                               [&](const Timer& t) { return t.identifier == identifier; }),
                timers_.end());
}

std::vector<uintptr_t> FakeMessageQueue::LiveTimers() const {
  std::vector<uintptr_t> live;
  for (const Timer& timer : timers_) {
    live.push_back(timer.identifier);
  }
  return live;
}

bool FakeMessageQueue::Look(TMessage* message, bool remove) {
  news_ = false;
  if (!posted_.empty()) {
    *message = posted_.front();
    if (remove) {
      posted_.pop_front();
    }
    return true;
  }
  for (Timer& timer : timers_) {
    if (timer.pending) {
      *message = TMessage();
      message->Message = kMessageTimer;
      message->WParam = timer.identifier;
      message->LParam = kTimerCallbackTag;
      if (remove) {
        timer.pending = false;
      }
      return true;
    }
  }
  return false;
}

}  // namespace autobackup
