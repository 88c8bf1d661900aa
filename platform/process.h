// Starting another program, and the message box that tells the user it failed. Texts are UTF-8.
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
  // CreateProcessW: starts the program at `application` (a full path; when empty, the system
  // finds the program the command line names) with `command_line`, its window shown normally,
  // in the folder that holds it as its current folder (when `application` is empty, in this
  // program's current folder). True when it started; it is then given a moment to get ready for
  // input, and never waited for.
  virtual bool Start(const std::string& application, const std::string& command_line) = 0;
};

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // MessageBoxW with no owner window; returns when the user has dismissed it.
  virtual int Show(const std::string& text, const std::string& caption, uint32_t flags) = 0;
};

}  // namespace autobackup
