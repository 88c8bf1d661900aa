#include "testing/fake/fake_process.h"

namespace autobackup {
namespace {

std::string WithExtension(const std::string& name) {
  const size_t file = name.find_last_of("\\/:");
  const size_t dot = name.rfind('.');
  const bool has_extension = dot != std::string::npos && (file == std::string::npos || dot > file);
  return has_extension ? name : name + ".exe";
}

}  // namespace

bool FakeProcessStarter::Start(const std::string& application, const std::string& command_line,
                               uint32_t ready_wait_ms) {
  Attempt attempt{application, command_line, false, {}, ready_wait_ms};
  if (!fail_) {
    attempt.program = application.empty() ? Find(command_line) : Exactly(application);
    attempt.started = !attempt.program.empty();
  }
  attempts_.push_back(attempt);
  return attempt.started;
}

int FakeProcessStarter::Runs(const std::string& path) const {
  int runs = 0;
  for (const Attempt& attempt : attempts_) {
    runs += !attempt.program.empty() && attempt.program == path;
  }
  return runs;
}

std::string FakeProcessStarter::Find(const std::string& command_line) const {
  if (!command_line.empty() && command_line[0] == '"') {
    const size_t close = command_line.find('"', 1);
    return Placed(command_line.substr(1, close == std::string::npos ? close : close - 1));
  }
  for (size_t end = 0; end <= command_line.size(); ++end) {
    if (end == command_line.size() || command_line[end] == ' ' || command_line[end] == '\t') {
      if (end > 0) {
        std::string found = Placed(command_line.substr(0, end));
        if (!found.empty()) {
          return found;
        }
      }
    }
  }
  return {};
}

std::string FakeProcessStarter::Exactly(const std::string& path) const {
  for (const std::string& program : programs_) {
    if (program == path) {
      return program;
    }
  }
  return {};
}

std::string FakeProcessStarter::Placed(const std::string& name) const {
  if (name.empty()) {
    return {};
  }
  return Exactly(WithExtension(name));
}

}  // namespace autobackup
