// Starting another program. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <string>

namespace autobackup {

class ProcessStarter {
 public:
  virtual ~ProcessStarter() = default;
  // Starts the program at `application` (a full path of any length; when empty, the program the
  // command line names, found as the system finds it) with `command_line`, its window shown
  // normally, in the folder that holds it as its current folder (when `application` is empty, in
  // this program's current folder). True when it started; it is then given at most
  // `ready_wait_ms` to get ready for input, and never waited for beyond that.
  virtual bool Start(const std::string& application, const std::string& command_line,
                     uint32_t ready_wait_ms) = 0;
};

}  // namespace autobackup
