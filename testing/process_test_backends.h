// The worlds the process start's contract runs in: the fake, and on Windows the system's start
// with copies of the stand-in application, which log every start.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/process.h"
#include "testing/fake/fake_process.h"
#ifdef _WIN32
#include "e2e/standin/standin_harness.h"
#include "platform/win32/win32_process.h"
#endif

namespace autobackup {

class ProcessWorld {
 public:
  virtual ~ProcessWorld() = default;
  virtual ProcessStarter& Starter() = 0;
  // A directory to place programs in, with its trailing backslash; empty if none was made.
  virtual std::string Root() = 0;
  virtual bool MakeDirectory(const std::string& path) = 0;
  // Places a program at `path` that counts its starts.
  virtual bool PlaceProgram(const std::string& path) = 0;
  // How often the program at `path` has run, after waiting (bounded) for `expected` runs.
  virtual size_t Runs(const std::string& path, size_t expected) = 0;
};

class FakeWorld : public ProcessWorld {
 public:
  ProcessStarter& Starter() override { return starter_; }
  std::string Root() override { return "C:\\scratch\\"; }
  bool MakeDirectory(const std::string&) override { return true; }
  bool PlaceProgram(const std::string& path) override {
    starter_.PlaceProgram(path);
    return true;
  }
  size_t Runs(const std::string& path, size_t) override { return starter_.Runs(path); }

 private:
  FakeProcessStarter starter_;
};

#ifdef _WIN32
class WindowsWorld : public ProcessWorld {
 public:
  ProcessStarter& Starter() override { return starter_; }
  std::string Root() override { return scratch_.Path(); }
  bool MakeDirectory(const std::string& path) override { return autobackup::MakeDirectory(path); }
  bool PlaceProgram(const std::string& path) override {
    return CopyProgram(BesideThisProgram(AUTOBACKUP_STANDIN), path);
  }
  size_t Runs(const std::string& path, size_t expected) override {
    return WaitForRuns(path, expected, kStandInTimeoutMs).size();
  }

 private:
  ScratchDirectory scratch_{"process"};
  Win32ProcessStarter starter_;
};
#endif

struct WorldMaker {
  const char* name;
  std::function<std::unique_ptr<ProcessWorld>()> make;
};

}  // namespace autobackup
