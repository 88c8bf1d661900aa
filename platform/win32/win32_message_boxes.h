// The system's message box, with the wide call.
#pragma once

#include "platform/message_boxes.h"

namespace autobackup {

class Win32MessageBoxes : public MessageBoxes {
 public:
  int Show(const std::string& text, const std::string& caption, uint32_t flags) override;
};

}  // namespace autobackup
