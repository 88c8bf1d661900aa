#include "e2e/standin/standin_harness.h"

#include <windows.h>

#include <filesystem>
#include <system_error>

namespace autobackup {
namespace {

bool Take(const std::string& line, const char* prefix, std::string* rest) {
  const std::string p(prefix);
  if (line.compare(0, p.size(), p) != 0) {
    return false;
  }
  *rest = line.substr(p.size());
  return true;
}

std::string ReadWholeFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return {};
  }
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    text.append(buffer, got);
  }
  CloseHandle(file);
  return text;
}

std::string LogPathFor(const std::string& exe_path) {
  std::string log = exe_path;
  if (log.size() > 4 && lstrcmpiA(log.c_str() + log.size() - 4, ".exe") == 0) {
    log.resize(log.size() - 4);
  }
  return log + ".log";
}

// Only whole records count: one without its end line is still being written.
std::vector<StandInRun> ParseStandInLog(const std::string& text) {
  std::vector<StandInRun> runs;
  StandInRun current;
  bool open = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      break;  // an unfinished line belongs to a record still being written
    }
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    std::string rest;
    if (Take(line, "run ", &rest)) {
      const size_t blank = rest.find(' ');
      current = StandInRun{rest.substr(0, blank),
                           blank == std::string::npos ? std::string() : rest.substr(blank + 1),
                           {},
                           {},
                           {},
                           {}};
      open = true;
    } else if (open && Take(line, "path ", &rest)) {
      current.path = rest;
    } else if (open && Take(line, "folder ", &rest)) {
      // only the scenarios look at the current folder
    } else if (open && Take(line, "show ", &rest)) {
      current.show = rest;
    } else if (open && Take(line, "line ", &rest)) {
      current.command_line = rest;
    } else if (open && Take(line, "arg ", &rest)) {
      current.arguments.push_back(rest);
    } else if (open && Take(line, "end ", &rest)) {
      if (rest == std::to_string(current.arguments.size())) {
        runs.push_back(current);
      }
      open = false;
    } else {
      open = false;
    }
  }
  return runs;
}

}  // namespace

std::vector<StandInRun> RunsOf(const std::string& exe_path) {
  return ParseStandInLog(ReadWholeFile(LogPathFor(exe_path)));
}

std::vector<StandInRun> WaitForRuns(const std::string& exe_path, size_t count, int timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
  std::vector<StandInRun> runs = RunsOf(exe_path);
  while (runs.size() < count && GetTickCount64() < deadline) {
    Sleep(50);
    runs = RunsOf(exe_path);
  }
  return runs;
}

std::string BesideThisProgram(const std::string& relative) {
  char path[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string result(path, length < sizeof path ? length : 0);
  result.resize(result.find_last_of('\\') + 1);
  for (char c : relative) {
    result += c == '/' ? '\\' : c;
  }
  return result;
}

bool MakeDirectory(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

bool CopyProgram(const std::string& from, const std::string& to) {
  return CopyFileA(from.c_str(), to.c_str(), TRUE) != 0;
}

ScratchDirectory::ScratchDirectory(const std::string& tag) {
  static int made = 0;
  char temp[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof temp, temp);
  if (length == 0 || length >= sizeof temp) {
    return;
  }
  std::string path = std::string(temp, length) + "autobackup-" + tag + "-" +
                     std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++made);
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);  // left over from an earlier run with this id
  if (MakeDirectory(path)) {
    path_ = path + "\\";
  }
}

ScratchDirectory::~ScratchDirectory() {
  if (path_.empty()) {
    return;
  }
  // A program started from here may still be ending and hold its file open for a moment.
  for (int attempt = 0; attempt < 50; ++attempt) {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
    if (!error) {
      return;
    }
    Sleep(100);
  }
}

}  // namespace autobackup
