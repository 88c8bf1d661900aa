// The local wall clock.
#pragma once

#include <cstdint>

namespace autobackup {

// The fields of a Win32 SYSTEMTIME.
struct TLocalTime {
  uint16_t Year = 0;
  uint16_t Month = 0;
  uint16_t DayOfWeek = 0;
  uint16_t Day = 0;
  uint16_t Hour = 0;
  uint16_t Minute = 0;
  uint16_t Second = 0;
  uint16_t Milliseconds = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // The present local date and time, to the millisecond.
  virtual TLocalTime LocalTime() = 0;
};

}  // namespace autobackup
