// The message box that tells the user something and waits until they have dismissed it. Texts
// are UTF-8.
#pragma once

#include <cstdint>
#include <string>

namespace autobackup {

// What a box shows and how it behaves (the system's own values, combined with |).
constexpr uint32_t kBoxOk = 0x0;            // one OK button
constexpr uint32_t kBoxIconError = 0x10;    // the error icon
constexpr uint32_t kBoxTaskModal = 0x2000;  // keeps the program's other windows from input

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Shows a box of no window of ours and returns the user's answer once they have dismissed it.
  virtual int Show(const std::string& text, const std::string& caption, uint32_t flags) = 0;
};

}  // namespace autobackup
