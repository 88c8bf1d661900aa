// The local wall clock of the machine.
#pragma once

#include "platform/clock.h"

namespace autobackup {

class Win32Clock : public Clock {
 public:
  TLocalTime LocalTime() override;
};

}  // namespace autobackup
