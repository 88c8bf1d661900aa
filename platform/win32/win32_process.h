// The real process start and message box: WinExec and MessageBoxA.
#pragma once

#include "platform/process.h"

namespace autobackup {

class Win32ProcessStarter : public ProcessStarter {
 public:
  uint32_t Start(const std::string& command_line) override;
};

class Win32MessageBoxes : public MessageBoxes {
 public:
  int Show(const std::string& text, const std::string& caption, uint32_t flags) override;
};

}  // namespace autobackup
