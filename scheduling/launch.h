// Starting the backup application in its unattended mode, and telling the user when it cannot
// be started.
#pragma once

#include <string>

#include "platform/check_lock.h"
#include "platform/message_boxes.h"
#include "platform/process.h"

namespace autobackup {

constexpr char kBackupApplication[] = "TarvikEmailBackup.exe";
constexpr char kUnattendedArgument[] = "/auto";
constexpr char kLaunchFailedText[] = "Auto Backup: Tarvik Email Backup not found!";
constexpr char kLaunchFailedCaption[] = "Error!";
constexpr uint32_t kLaunchFailedFlags = kBoxOk | kBoxIconError;
// How long a start waits for the application to be ready for input. The wait only lets it reach
// its first window before the check goes on; it passes while the check lock is held, so it stays
// within one tick: the other copies then lose at most that tick's check.
constexpr uint32_t kReadyWaitMs = 1000;

// The backup application's full path in double quotes, a blank, and "/auto" in double quotes.
// The quotes keep the system from running a program found at a blank-separated prefix of a
// directory with blanks (C:\Program.exe for C:\Program Files\...).
std::string LaunchCommandLine(const std::string& program_directory);

// Starts the application in `program_directory` (UTF-8, with its trailing backslash) without
// waiting for it: that file and no other, named in full. With an empty directory the system's own
// search finds the application. When it cannot be started, gives back the check's `lock` (the
// user's other copies go on checking, and one beside the application starts the backup), shows
// the error box, waits for the user to dismiss it and returns false.
bool StartBackupApplication(const std::string& program_directory, ProcessStarter& starter,
                            MessageBoxes& boxes, ScopedCheckLock& lock);

}  // namespace autobackup
