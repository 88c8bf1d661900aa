#include "platform/win32/win32_process.h"

#include <windows.h>

namespace autobackup {

uint32_t Win32ProcessStarter::Start(const std::string& command_line) {
  return WinExec(command_line.c_str(), SW_SHOWNORMAL);
}

int Win32MessageBoxes::Show(const std::string& text, const std::string& caption, uint32_t flags) {
  return MessageBoxA(nullptr, text.c_str(), caption.c_str(), flags);
}

}  // namespace autobackup
