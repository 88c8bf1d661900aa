// The message queue's behaviour, checked against the fake everywhere and against the real queue on
// Windows (Wine); then what only the fake's script does.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "testing/message_queue_test_backends.h"

namespace autobackup {
namespace {

using Fake = FakeMessageQueue;

template <typename Backend>
class MessageQueueContract : public testing::Test {
 protected:
  ~MessageQueueContract() override {
    for (uintptr_t timer : timers_) {
      queue_.KillTimer(timer);
    }
  }
  uintptr_t StartTimer(uint32_t elapse_ms) {
    timers_.push_back(queue_.SetTimer(elapse_ms));
    return timers_.back();
  }
  TMessage Take() {
    TMessage message;
    EXPECT_TRUE(queue_.PeekMessageA(&message));
    return message;
  }
  bool Empty() {
    TMessage message;
    return !queue_.PeekMessageA(&message);
  }

  Backend backend_;
  MessageQueue& queue_ = backend_.Queue();
  std::vector<uintptr_t> timers_;
};

#ifdef _WIN32
using Backends = testing::Types<FakeBackend, Win32Backend>;
#else
using Backends = testing::Types<FakeBackend>;
#endif
struct BackendName {
  template <typename Backend>
  static std::string GetName(int) {
    return std::is_same<Backend, FakeBackend>::value ? "Fake" : "Win32";
  }
};
TYPED_TEST_SUITE(MessageQueueContract, Backends, BackendName);

TYPED_TEST(MessageQueueContract, TakesPostedMessagesInOrderWithTheirParametersWhole) {
  TMessage untouched{7, 8, 9, 10, 11};
  TMessage message = untouched;
  EXPECT_FALSE(this->queue_.PeekMessageA(&message));
  this->backend_.Post(kOwn + 1, UINTPTR_MAX, INTPTR_MIN);
  this->backend_.Post(kOwn + 2, 0, -1);
  this->backend_.Post(kOwn + 3, 1, 1);
  const struct {
    uint32_t message;
    uintptr_t wparam;
    intptr_t lparam;
  } expected[] = {{kOwn + 1, UINTPTR_MAX, INTPTR_MIN}, {kOwn + 2, 0, -1}, {kOwn + 3, 1, 1}};
  for (const auto& e : expected) {
    message = this->Take();
    EXPECT_EQ(message.Window, 0u);
    EXPECT_EQ(message.Message, e.message);
    EXPECT_EQ(message.WParam, e.wparam);
    EXPECT_EQ(message.LParam, e.lparam);
  }
  message = untouched;
  EXPECT_FALSE(this->queue_.PeekMessageA(&message));
  EXPECT_EQ(message.Message, untouched.Message);
  EXPECT_EQ(message.WParam, untouched.WParam);
}

TYPED_TEST(MessageQueueContract, WaitReturnsAtOnceForAMessageNotYetSeen) {
  EXPECT_TRUE(this->Empty());  // the look comes before the arrival
  this->backend_.Post(kOwn, 0, 0);
  this->backend_.ArriveLater(500);
  this->queue_.WaitMessage();
  EXPECT_EQ(this->backend_.Arrivals(), 0);
}

// Peeked at without removal, or left behind when another was removed: either way, seen.
TYPED_TEST(MessageQueueContract, WaitIgnoresMessagesALookLeftQueued) {
  this->backend_.Post(kOwn + 1, 0, 0);
  this->backend_.Post(kOwn + 2, 0, 0);
  TMessage seen;
  ASSERT_TRUE(this->backend_.PeekWithoutRemoving(&seen));
  EXPECT_EQ(seen.Message, kOwn + 1);
  this->backend_.ArriveLater(300);
  this->queue_.WaitMessage();
  EXPECT_EQ(this->backend_.Arrivals(), 1);
  EXPECT_EQ(this->Take().Message, kOwn + 1);
  this->backend_.ArriveLater(300);
  this->queue_.WaitMessage();
  EXPECT_EQ(this->backend_.Arrivals(), 2);
  for (uint32_t expected : {kOwn + 2, kLate, kLate}) {
    EXPECT_EQ(this->Take().Message, expected);
  }
  EXPECT_TRUE(this->Empty());
}

TYPED_TEST(MessageQueueContract, TimerTicksArriveUndispatchedCarryingTheSystemsIdentifier) {
  const uintptr_t first = this->StartTimer(1000);
  const uintptr_t second = this->StartTimer(60000);
  EXPECT_NE(first, 0u);
  EXPECT_NE(second, 0u);
  EXPECT_NE(first, second);
  this->backend_.TicksLater(1);
  this->backend_.ArriveLater(3000);  // a generous bound: a tick comes within about a second
  TMessage message;
  bool ticked = false;
  while (!ticked && this->backend_.Arrivals() == 0) {
    this->queue_.WaitMessage();
    ticked = this->queue_.PeekMessageA(&message) && message.Message == kMessageTimer;
  }
  ASSERT_TRUE(ticked);
  EXPECT_EQ(message.Window, 0u);
  EXPECT_EQ(message.WParam, first);
}

TYPED_TEST(MessageQueueContract, PostedMessagesGoFirstAndATimerHasOneMessageWaiting) {
  const uintptr_t timer = this->StartTimer(300);
  this->backend_.LetTimersExpire(300, 3);
  this->backend_.Post(kOwn, 0, 0);
  EXPECT_EQ(this->Take().Message, kOwn);
  TMessage tick = this->Take();
  EXPECT_EQ(tick.Message, kMessageTimer);
  EXPECT_EQ(tick.WParam, timer);
  EXPECT_TRUE(this->Empty());
}

TYPED_TEST(MessageQueueContract, WaitIgnoresATimerExpiringAgainWhileItsMessageWaits) {
  this->StartTimer(50);
  this->backend_.LetTimersExpire(50, 2);
  TMessage seen;
  ASSERT_TRUE(this->backend_.PeekWithoutRemoving(&seen));
  EXPECT_EQ(seen.Message, kMessageTimer);
  this->backend_.TicksLater(4);
  this->backend_.ArriveLater(400);
  this->queue_.WaitMessage();
  EXPECT_EQ(this->backend_.Arrivals(), 1);
}

TYPED_TEST(MessageQueueContract, KillTimerStopsOnlyThatTimerAndDropsItsWaitingMessage) {
  const uintptr_t killed = this->StartTimer(50);
  const uintptr_t kept = this->StartTimer(50);
  this->backend_.LetTimersExpire(50, 2);
  this->queue_.KillTimer(killed);
  TMessage tick = this->Take();
  EXPECT_EQ(tick.Message, kMessageTimer);
  EXPECT_EQ(tick.WParam, kept);
  this->queue_.KillTimer(kept);
  EXPECT_TRUE(this->Empty());
  this->backend_.TicksLater(4);
  this->backend_.ArriveLater(400);
  this->queue_.WaitMessage();
  EXPECT_EQ(this->backend_.Arrivals(), 1);
  EXPECT_EQ(this->Take().Message, kLate);
  EXPECT_TRUE(this->Empty());
}

#ifdef _WIN32
// The first tick comes a whole period after SetTimer; the spacing is printed, not judged.
TEST(Win32MessageQueue, TicksComeAboutOnceASecond) {
  Win32Backend backend;
  MessageQueue& queue = backend.Queue();
  const uintptr_t timer = queue.SetTimer(1000);
  backend.ArriveLater(6000);
  auto last = std::chrono::steady_clock::now();
  int ticks = 0;
  while (ticks < 3 && backend.Arrivals() == 0) {
    queue.WaitMessage();
    TMessage message;
    if (queue.PeekMessageA(&message) && message.Message == kMessageTimer) {
      const auto now = std::chrono::steady_clock::now();
      std::printf("tick %d after %lld ms\n", ++ticks,
                  static_cast<long long>(
                      std::chrono::duration_cast<std::chrono::milliseconds>(now - last).count()));
      last = now;
    }
  }
  queue.KillTimer(timer);
  EXPECT_EQ(ticks, 3);
}

// A modal loop dispatches the tick, which runs the callback; the callback posts a bare WM_TIMER.
TEST(Win32MessageQueue, DispatchedTickPostsABareTimerMessage) {
  Win32Backend backend;
  MessageQueue& queue = backend.Queue();
  const uintptr_t timer = queue.SetTimer(50);
  backend.LetTimersExpire(50, 1);
  TMessage tick;
  ASSERT_TRUE(queue.PeekMessageA(&tick));
  ASSERT_EQ(tick.Message, kMessageTimer);
  queue.KillTimer(timer);
  MSG msg = {};
  msg.message = tick.Message;
  msg.wParam = tick.WParam;
  msg.lParam = tick.LParam;
  DispatchMessageA(&msg);
  TMessage posted{7, 0, 7, 7, 0};
  ASSERT_TRUE(queue.PeekMessageA(&posted));
  EXPECT_EQ(posted.Window, 0u);
  EXPECT_EQ(posted.Message, kMessageTimer);
  EXPECT_EQ(posted.WParam, 0u);
  EXPECT_EQ(posted.LParam, 0);
  TMessage none;
  EXPECT_FALSE(queue.PeekMessageA(&none));
}
#endif

// The script: one step at a time, only while nothing new waits.
TEST(FakeMessageQueueScript, WaitTakesStepsOnlyUntilSomethingNewArrives) {
  Fake queue;
  const uintptr_t timer = queue.SetTimer(1000);
  int hook_runs = 0;
  queue.Script({Fake::Hook([&] { ++hook_runs; }), Fake::Tick(),
                Fake::Hook([&] { queue.PostMessageA(kOwn, 0, 0); }),
                Fake::Hook([&] { ++hook_runs; }), Fake::Tick()});
  queue.WaitMessage();
  EXPECT_EQ(hook_runs, 1);
  EXPECT_EQ(queue.StepsLeft(), 3u);
  TMessage message;
  ASSERT_TRUE(queue.PeekMessageA(&message));
  EXPECT_EQ(message.WParam, timer);
  queue.WaitMessage();  // woken by the hook's post
  EXPECT_EQ(queue.StepsLeft(), 2u);
  queue.WaitMessage();  // the post was seen by that wait, so on to the next tick
  EXPECT_EQ(hook_runs, 2);
  EXPECT_EQ(queue.StepsLeft(), 0u);
  EXPECT_EQ(queue.Waits(), 3);
}

TEST(FakeMessageQueueScript, WaitWithNothingNewAndNoStepsLeftThrows) {
  Fake queue;
  EXPECT_THROW(queue.WaitMessage(), ScriptExhausted);
  queue.Script({Fake::Tick()});  // no live timer: the tick brings nothing
  EXPECT_THROW(queue.WaitMessage(), ScriptExhausted);
  queue.PostMessageA(kOwn, 0, 0);
  queue.WaitMessage();
  EXPECT_THROW(queue.WaitMessage(), ScriptExhausted);  // a wait is a look too
}

TEST(FakeMessageQueueScript, RecordsTimerCallsAndHandsOutFreshIdentifiers) {
  Fake queue;
  const uintptr_t a = queue.SetTimer(1000);
  const uintptr_t b = queue.SetTimer(250);
  EXPECT_NE(a, 1u);
  EXPECT_NE(a, b);
  queue.KillTimer(a);
  queue.KillTimer(a);
  const uintptr_t c = queue.SetTimer(1000);
  EXPECT_NE(c, a);
  EXPECT_EQ(queue.SetTimerCalls(), (std::vector<uint32_t>{1000, 250, 1000}));
  EXPECT_EQ(queue.KillTimerCalls(), (std::vector<uintptr_t>{a, a}));
  EXPECT_EQ(queue.LiveTimers(), (std::vector<uintptr_t>{b, c}));
}

}  // namespace
}  // namespace autobackup
