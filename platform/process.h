// Starting another program, and the message box that tells the user it failed.
#pragma once

#include <cstdint>
#include <string>

namespace autobackup {

constexpr uint32_t kBoxOk = 0x0;
constexpr uint32_t kBoxIconError = 0x10;
constexpr uint32_t kBoxTaskModal = 0x2000;

class ProcessStarter {
 public:
  virtual ~ProcessStarter() = default;
  // WinExec(command line, SW_SHOWNORMAL): 32 or more (unsigned) when the program started,
  // otherwise the system's reason.
  virtual uint32_t Start(const std::string& command_line) = 0;
};

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // MessageBoxA with no owner window; returns when the user has dismissed it.
  virtual int Show(const std::string& text, const std::string& caption, uint32_t flags) = 0;
};

}  // namespace autobackup
