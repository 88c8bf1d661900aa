#include "platform/win32/win32_process.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace autobackup {
namespace {

// `command_line` may be changed in place, as CreateProcessW does.
bool CreateProcessFor(const wchar_t* application, WideText& command_line,
                      const wchar_t* current_directory, PROCESS_INFORMATION* process) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  return CreateProcessW(application, &command_line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        current_directory, &startup, process) != FALSE;
}

WideText CurrentDirectory() {
  WideText directory(GetCurrentDirectoryW(0, nullptr), L'\0');
  directory.resize(GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), &directory[0]));
  return directory;
}

// The folder of a full path, with its trailing backslash; empty when it names none.
WideText FolderOf(const WideText& path) {
  const size_t file = path.rfind(L'\\') + 1;
  return file == 0 || file >= path.size() ? WideText() : path.substr(0, file);
}

constexpr wchar_t kLongPrefix[] = L"\\\\?\\";
constexpr wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";

// The short (8.3) form of a full path of any length; empty when the system gives none. Beyond
// MAX_PATH the system reads a path only in its \\?\ form (\\?\UNC\server\share\... for
// \\server\share\...), and answers in the same form, which the start cannot take: the prefix is
// taken off again.
WideText ShortForm(const WideText& path) {
  WideText asked = path;
  if (path.compare(0, 4, kLongPrefix) != 0) {
    asked = path.compare(0, 2, L"\\\\") == 0 ? kLongUncPrefix + path.substr(2) : kLongPrefix + path;
  }
  WideText short_form(GetShortPathNameW(asked.c_str(), nullptr, 0), L'\0');
  if (short_form.empty()) {
    return {};
  }
  short_form.resize(
      GetShortPathNameW(asked.c_str(), &short_form[0], static_cast<DWORD>(short_form.size())));
  if (short_form.compare(0, 8, kLongUncPrefix) == 0) {
    return L"\\\\" + short_form.substr(8);
  }
  if (short_form.compare(0, 4, kLongPrefix) == 0) {
    return short_form.substr(4);
  }
  return short_form;
}

// A full path of MAX_PATH units or more is too long for the start. Its short (8.3) form may fit,
// but the start expands the name it is given back to the long form within MAX_PATH (Wine does),
// so the name goes in relative to its short folder, made current for the moment of the start;
// the started program gets that folder as its current one, as for any start. False when the file
// has no short form that fits: with short names turned off on its volume the system gives back
// the long form.
bool StartThroughShortForm(const WideText& application, WideText& command_line,
                           PROCESS_INFORMATION* process) {
  const WideText short_form = ShortForm(application);
  const WideText folder = FolderOf(short_form);
  if (folder.empty() || short_form.size() >= MAX_PATH) {
    return false;
  }
  const WideText previous = CurrentDirectory();
  if (previous.empty() || !SetCurrentDirectoryW(folder.c_str())) {
    return false;
  }
  const bool started =
      CreateProcessFor(short_form.c_str() + folder.size(), command_line, folder.c_str(), process);
  SetCurrentDirectoryW(previous.c_str());
  return started;
}

}  // namespace

bool Win32ProcessStarter::Start(const std::string& application, const std::string& command_line,
                                uint32_t ready_wait_ms) {
  WideText command = WideFromUtf8(command_line);
  const WideText name = WideFromUtf8(application);
  PROCESS_INFORMATION process = {};
  // The program starts in its own folder, as when the user opens it, whatever folder this one was
  // started in (at log-on, most likely the system folder).
  const WideText folder = FolderOf(name);
  const bool started = name.size() < MAX_PATH
                           ? CreateProcessFor(name.empty() ? nullptr : name.c_str(), command,
                                              folder.empty() ? nullptr : folder.c_str(), &process)
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
