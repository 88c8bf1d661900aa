#include "platform/win32/win32_process.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace autobackup {
namespace {

// `command_line` may be changed in place, as CreateProcessW does.
bool CreateProcessFor(const wchar_t* application, std::wstring& command_line,
                      const wchar_t* current_directory, PROCESS_INFORMATION* process) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  return CreateProcessW(application, &command_line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        current_directory, &startup, process) != FALSE;
}

std::wstring CurrentDirectory() {
  std::wstring directory(GetCurrentDirectoryW(0, nullptr), L'\0');
  directory.resize(GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), &directory[0]));
  return directory;
}

// A full path of MAX_PATH units or more is too long for the start. Its short (8.3) form may fit,
// but the start expands the name it is given back to the long form within MAX_PATH (Wine does),
// so the name goes in relative to its short directory, made current for the moment of the start;
// the started program still gets this program's current directory, as for any start. False when
// the file has no short form that fits.
bool StartThroughShortForm(const std::wstring& application, std::wstring& command_line,
                           PROCESS_INFORMATION* process) {
  std::wstring short_form(GetShortPathNameW(application.c_str(), nullptr, 0), L'\0');
  if (short_form.empty()) {
    return false;
  }
  short_form.resize(GetShortPathNameW(application.c_str(), &short_form[0],
                                      static_cast<DWORD>(short_form.size())));
  const size_t file = short_form.rfind(L'\\') + 1;
  if (file == 0 || file >= short_form.size()) {
    return false;
  }
  const std::wstring previous = CurrentDirectory();
  if (previous.empty() || !SetCurrentDirectoryW(short_form.substr(0, file).c_str())) {
    return false;
  }
  const bool started =
      CreateProcessFor(short_form.c_str() + file, command_line, previous.c_str(), process);
  SetCurrentDirectoryW(previous.c_str());
  return started;
}

}  // namespace

bool Win32ProcessStarter::Start(const std::string& application, const std::string& command_line,
                                uint32_t ready_wait_ms) {
  std::wstring command = WideFromUtf8(command_line);
  const std::wstring name = WideFromUtf8(application);
  PROCESS_INFORMATION process = {};
  const bool started =
      name.size() < MAX_PATH
          ? CreateProcessFor(name.empty() ? nullptr : name.c_str(), command, nullptr, &process)
          : StartThroughShortForm(name, command, &process);
  if (!started) {
    return false;
  }
  // Whether it got ready in time, or has no input to wait for, the program has started.
  WaitForInputIdle(process.hProcess, ready_wait_ms);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace autobackup
