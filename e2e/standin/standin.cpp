// A stand-in for the backup application, for the tests and the demo: it records how it was
// started in a log beside itself and exits at once. Built twice: as the application and, with
// another role, as a decoy that must never run.
//
// The log is the program's own path with ".log" in place of ".exe" (so TarvikEmailBackup.log
// for TarvikEmailBackup.exe): UTF-8 text, lines ended by CR LF. Everything is read through the
// wide calls, so any folder name comes out as it is. Every start appends one record, in a single
// write so that records never interleave:
//   run <role> <local time as YYYY-MM-DD hh:mm:ss.mmm>
//   path <its own path, as GetModuleFileNameW gives it>
//   folder <its current folder, as GetCurrentDirectoryW gives it>
//   show <the show state GetStartupInfoW gives, a number, or "default" when none was given>
//   line <the raw command line, as GetCommandLineW gives it>
//   arg <argument>      one line per argument after the program name, as the C runtime split them
//   end <number of arguments>
// <role> is "stand-in" or "decoy". A record without its end line is still being written.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/win32/wide_text.h"

#ifndef STANDIN_ROLE
#error "STANDIN_ROLE must name the role this copy records"
#endif

int wmain(int argc, wchar_t** argv) {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size())));
  if (path.empty() || path.size() >= 32767) {
    return 2;
  }
  std::wstring log = path;
  if (log.size() > 4 && lstrcmpiW(log.c_str() + log.size() - 4, L".exe") == 0) {
    log.resize(log.size() - 4);
  }
  log += L".log";
  if (log.size() >= MAX_PATH && log[1] == L':') {
    log = L"\\\\?\\" + log;  // a folder deeper than the classic limit
  }

  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u", now.wYear, now.wMonth,
                now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  STARTUPINFOW startup;
  GetStartupInfoW(&startup);

  std::string record = std::string("run ") + STANDIN_ROLE + " " + stamp + "\r\n";
  record += "path " + autobackup::Utf8FromWide(path) + "\r\n";
  std::wstring folder(GetCurrentDirectoryW(0, nullptr), L'\0');
  folder.resize(GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), &folder[0]));
  record += "folder " + autobackup::Utf8FromWide(folder) + "\r\n";
  record += "show " +
            (startup.dwFlags & STARTF_USESHOWWINDOW ? std::to_string(startup.wShowWindow)
                                                    : std::string("default")) +
            "\r\n";
  record += "line " + autobackup::Utf8FromWide(GetCommandLineW()) + "\r\n";
  for (int i = 1; i < argc; ++i) {
    record += "arg " + autobackup::Utf8FromWide(argv[i]) + "\r\n";
  }
  record += "end " + std::to_string(argc - 1) + "\r\n";

  HANDLE file = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return 3;
  }
  DWORD written = 0;
  const BOOL ok =
      WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == record.size() ? 0 : 4;
}
