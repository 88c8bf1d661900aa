// Process start and message boxes in memory: the tests place programs, then read back what ran
// and which boxes were shown.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/process.h"

namespace autobackup {

// Finds the program in a command line as the system does. A quoted name is taken whole. An
// unquoted one is tried up to each blank in turn, shortest first, so C:\ab cd\x.exe runs
// C:\ab.exe when that exists. ".exe" is added to a name without an extension. A name without a
// directory is found only when it was placed under that bare name (the system's search path).
// Unlike the system's, names here are case-sensitive.
class FakeProcessStarter : public ProcessStarter {
 public:
  static constexpr uint32_t kStarted = 33;      // WinExec's answer for a started program
  static constexpr uint32_t kFileNotFound = 2;  // ERROR_FILE_NOT_FOUND

  struct Attempt {
    std::string command_line;
    uint32_t result = 0;
    std::string program;  // the program that ran; empty when nothing ran
  };

  uint32_t Start(const std::string& command_line) override;

  void PlaceProgram(const std::string& path) { programs_.push_back(path); }
  // From now on every start answers `result` and runs nothing, whatever is placed.
  void AnswerEveryStartWith(uint32_t result) { forced_ = result; }

  const std::vector<Attempt>& Attempts() const { return attempts_; }
  // How often the program placed at `path` ran.
  int Runs(const std::string& path) const;

 private:
  std::string Find(const std::string& command_line) const;
  std::string Placed(const std::string& name) const;

  std::vector<std::string> programs_;
  std::optional<uint32_t> forced_;
  std::vector<Attempt> attempts_;
};

class FakeMessageBoxes : public MessageBoxes {
 public:
  static constexpr int kAnswerOk = 1;  // IDOK

  struct Box {
    std::string text;
    std::string caption;
    uint32_t flags = 0;
  };

  int Show(const std::string& text, const std::string& caption, uint32_t flags) override {
    shown_.push_back({text, caption, flags});
    if (while_shown) {
      while_shown();
    }
    return kAnswerOk;
  }

  // Runs while each box is up, before the user's answer.
  std::function<void()> while_shown;

  const std::vector<Box>& Shown() const { return shown_; }

 private:
  std::vector<Box> shown_;
};

}  // namespace autobackup
