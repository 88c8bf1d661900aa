// A stand-in for the backup application, for the tests and the demo: it records how it was
// started in a log beside itself and exits at once. Built twice: as the application and, with
// another role, as a decoy that must never run.
//
// The log is the program's own path with ".log" in place of ".exe" (so TarvikEmailBackup.log
// for TarvikEmailBackup.exe): ANSI text, lines ended by CR LF. Every start appends one record,
// in a single write so that records never interleave:
//   run <role> <local time as YYYY-MM-DD hh:mm:ss.mmm>
//   line <the raw command line, as GetCommandLineA gives it>
//   arg <argument>      one line per argument after the program name, as the C runtime split them
//   end <number of arguments>
// <role> is "stand-in" or "decoy". A record without its end line is still being written.
#include <windows.h>

#include <cstdio>
#include <string>

#ifndef STANDIN_ROLE
#error "STANDIN_ROLE must name the role this copy records"
#endif

int main(int argc, char** argv) {
  char path[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) {
    return 2;
  }
  std::string log(path, length);
  if (log.size() > 4 && lstrcmpiA(log.c_str() + log.size() - 4, ".exe") == 0) {
    log.resize(log.size() - 4);
  }
  log += ".log";

  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u", now.wYear, now.wMonth,
                now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);

  std::string record = std::string("run ") + STANDIN_ROLE + " " + stamp + "\r\n";
  record += std::string("line ") + GetCommandLineA() + "\r\n";
  for (int i = 1; i < argc; ++i) {
    record += std::string("arg ") + argv[i] + "\r\n";
  }
  record += "end " + std::to_string(argc - 1) + "\r\n";

  HANDLE file = CreateFileA(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
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
