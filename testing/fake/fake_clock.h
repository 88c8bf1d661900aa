// A clock the tests set by hand.
#pragma once

#include "platform/clock.h"

namespace autobackup {

class FakeClock : public Clock {
 public:
  TLocalTime LocalTime() override {
    ++reads_;
    return now_;
  }
  void Set(const TLocalTime& now) { now_ = now; }
  int Reads() const { return reads_; }

 private:
  TLocalTime now_{2024, 1, 3, 31, 12, 0, 0, 0};
  int reads_ = 0;
};

}  // namespace autobackup
