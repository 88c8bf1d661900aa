// The back ends the message queue's contract runs on: the fake everywhere and, on Windows, also
// the thread's real queue, with what a test needs beyond the interface.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "testing/fake/fake_message_queue.h"

#ifdef _WIN32
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/win32/win32_message_queue.h"
#endif

namespace autobackup {

constexpr uint32_t kOwn = 0x8000;        // WM_APP: messages of the tests' own
constexpr uint32_t kLate = kOwn + 0x99;  // arrives while the test waits

// What a test needs beyond the interface. "Later" means while the test waits: after a delay on the
// real queue, as the next script steps on the fake.
class FakeBackend {
 public:
  MessageQueue& Queue() { return queue_; }
  bool PeekWithoutRemoving(TMessage* message) { return queue_.PeekWithoutRemoving(message); }
  void Post(uint32_t message, uintptr_t wparam, intptr_t lparam) {
    queue_.PostMessageA(message, wparam, lparam);
  }
  void ArriveLater(int /*delay_ms*/) {
    queue_.Script({FakeMessageQueue::Hook([this] { ++arrivals_; }),
                   FakeMessageQueue::Arrive({0, kLate, 0, 0, 0})});
  }
  int Arrivals() const { return arrivals_; }
  void LetTimersExpire(uint32_t /*elapse_ms*/, int times) {
    for (int i = 0; i < times; ++i) {
      queue_.ExpireTimers();
    }
  }
  void TicksLater(int times) { queue_.Repeat(FakeMessageQueue::Tick(), times); }

 private:
  FakeMessageQueue queue_;
  int arrivals_ = 0;
};

#ifdef _WIN32
class Win32Backend {
 public:
  Win32Backend() : thread_(GetCurrentThreadId()) { Drain(); }
  ~Win32Backend() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      cancelled_ = true;
    }
    wake_.notify_all();
    for (std::thread& poster : posters_) {
      poster.join();
    }
    Drain();
  }
  MessageQueue& Queue() { return queue_; }
  bool PeekWithoutRemoving(TMessage* message) {
    MSG msg;
    if (!::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      return false;
    }
    *message = {reinterpret_cast<uintptr_t>(msg.hwnd), msg.message, msg.wParam, msg.lParam, 0};
    return true;
  }
  void Post(uint32_t message, uintptr_t wparam, intptr_t lparam) {
    ::PostMessageA(nullptr, message, wparam, lparam);
  }
  // Posted from another thread, which is how a message can arrive while this one waits.
  void ArriveLater(int delay_ms) {
    posters_.emplace_back([this, delay_ms] {
      std::unique_lock<std::mutex> lock(mutex_);
      if (wake_.wait_for(lock, std::chrono::milliseconds(delay_ms),
                         [this] { return cancelled_; })) {
        return;
      }
      ++arrivals_;
      ::PostThreadMessageA(thread_, kLate, 0, 0);
    });
  }
  int Arrivals() const { return arrivals_; }
  // Half a period more, so that the next expiry is as far away as it can be.
  void LetTimersExpire(uint32_t elapse_ms, int times) { Sleep(elapse_ms * times + elapse_ms / 2); }
  void TicksLater(int) {}

 private:
  static void Drain() {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  Win32MessageQueue queue_;
  DWORD thread_;
  std::vector<std::thread> posters_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool cancelled_ = false;
  std::atomic<int> arrivals_{0};
};
#endif

}  // namespace autobackup
