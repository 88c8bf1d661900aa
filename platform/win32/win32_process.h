// The real process start and message box: CreateProcessW and MessageBoxW.
#pragma once

#include "platform/process.h"

namespace autobackup {

// How long a start waits for the started program to be ready for input. The wait only lets the
// program reach its first window before the scheduler goes on; it may pass while the check lock
// is held, so it stays within one tick: the other copies then lose at most that tick's check.
constexpr unsigned long kInputIdleWaitMs = 1000;

class Win32ProcessStarter : public ProcessStarter {
 public:
  bool Start(const std::string& application, const std::string& command_line) override;
};

class Win32MessageBoxes : public MessageBoxes {
 public:
  int Show(const std::string& text, const std::string& caption, uint32_t flags) override;
};

}  // namespace autobackup
