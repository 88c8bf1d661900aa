// Process start in memory: the tests place programs, then read back what ran.
#pragma once

#include <string>
#include <vector>

#include "platform/process.h"

namespace autobackup {

// Runs the program placed at the application name given, exactly that name. Without one, finds
// the program in the command line as the system does: a quoted name is taken whole; an unquoted
// one is tried up to each blank in turn, shortest first, so C:\ab cd\x.exe runs C:\ab.exe when
// that exists; ".exe" is added to a name without an extension; a name without a directory is
// found only when it was placed under that bare name (the system's search path). Unlike the
// system's, names here are case-sensitive, and a path may be of any length.
class FakeProcessStarter : public ProcessStarter {
 public:
  struct Attempt {
    std::string application;
    std::string command_line;
    bool started = false;
    std::string program;  // the program that ran; empty when nothing ran
    uint32_t ready_wait_ms = 0;
  };

  bool Start(const std::string& application, const std::string& command_line,
             uint32_t ready_wait_ms) override;

  void PlaceProgram(const std::string& path) { programs_.push_back(path); }
  // From now on every start fails and runs nothing, whatever is placed.
  void FailEveryStart() { fail_ = true; }

  const std::vector<Attempt>& Attempts() const { return attempts_; }
  // How often the program placed at `path` ran.
  int Runs(const std::string& path) const;

 private:
  std::string Find(const std::string& command_line) const;
  std::string Placed(const std::string& name) const;
  std::string Exactly(const std::string& path) const;

  std::vector<std::string> programs_;
  bool fail_ = false;
  std::vector<Attempt> attempts_;
};

}  // namespace autobackup
