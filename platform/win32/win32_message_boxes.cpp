#include "platform/win32/win32_message_boxes.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace autobackup {

int Win32MessageBoxes::Show(const std::string& text, const std::string& caption, uint32_t flags) {
  return MessageBoxW(nullptr, WideFromUtf8(text).c_str(), WideFromUtf8(caption).c_str(), flags);
}

}  // namespace autobackup
