// The system's process start, with the wide calls.
#pragma once

#include "platform/process.h"

namespace autobackup {

class Win32ProcessStarter : public ProcessStarter {
 public:
  bool Start(const std::string& application, const std::string& command_line,
             uint32_t ready_wait_ms) override;
};

}  // namespace autobackup
