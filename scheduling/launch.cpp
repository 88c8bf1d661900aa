#include "scheduling/launch.h"

namespace autobackup {
namespace {

// WinExec's answers below this are the system's reasons for not starting the program.
constexpr uint32_t kFirstStartedResult = 32;

}  // namespace

std::string LaunchCommandLine(const std::string& program_directory) {
  return "\"" + program_directory + kBackupApplication + "\" \"" + kUnattendedArgument + "\"";
}

bool StartBackupApplication(const std::string& program_directory, ProcessStarter& starter,
                            MessageBoxes& boxes, ScopedCheckLock& lock) {
  if (starter.Start(LaunchCommandLine(program_directory)) >= kFirstStartedResult) {
    return true;
  }
  lock.Release();
  boxes.Show(kLaunchFailedText, kLaunchFailedCaption, kLaunchFailedFlags);
  return false;
}

}  // namespace autobackup
