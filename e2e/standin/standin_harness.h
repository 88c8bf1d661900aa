// Test support for real starts on Windows: scratch directories, copies of the stand-in backup
// application and of the decoy, and the records their starts leave in their logs.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace autobackup {

// How long a test waits for a started copy to write its record: generous, since the 32-bit
// Windows build runs under an emulator.
constexpr int kStandInTimeoutMs = 30000;

// One start of the stand-in or the decoy, as its log records it (format in standin.cpp).
struct StandInRun {
  std::string role;
  std::string time;
  std::string path;
  std::string show;
  std::string command_line;
  std::vector<std::string> arguments;
};

// The complete records the copy at `exe_path` has written so far.
std::vector<StandInRun> RunsOf(const std::string& exe_path);

// Polls until the copy at `exe_path` has written `count` records or `timeout_ms` has passed, and
// returns the records there are then.
std::vector<StandInRun> WaitForRuns(const std::string& exe_path, size_t count, int timeout_ms);

// `relative` (with / or \ separators) resolved against the running program's own directory.
std::string BesideThisProgram(const std::string& relative);

bool MakeDirectory(const std::string& path);
bool CopyProgram(const std::string& from, const std::string& to);

// A fresh directory under the Windows temp directory, removed with its contents at the end.
class ScratchDirectory {
 public:
  explicit ScratchDirectory(const std::string& tag);
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  // With its trailing backslash; empty when the directory could not be made.
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace autobackup
