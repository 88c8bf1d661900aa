#include "scheduling/launch.h"

namespace autobackup {

std::string LaunchCommandLine(const std::string& program_directory) {
  return "\"" + program_directory + kBackupApplication + "\" \"" + kUnattendedArgument + "\"";
}

bool StartBackupApplication(const std::string& program_directory, ProcessStarter& starter,
                            MessageBoxes& boxes, ScopedCheckLock& lock) {
  const std::string application =
      program_directory.empty() ? std::string() : program_directory + kBackupApplication;
  if (starter.Start(application, LaunchCommandLine(program_directory), kReadyWaitMs)) {
    return true;
  }
  lock.Release();
  boxes.Show(kLaunchFailedText, kLaunchFailedCaption, kLaunchFailedFlags);
  return false;
}

}  // namespace autobackup
