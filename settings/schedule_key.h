// Where the backup application keeps its schedule: the key below HKEY_CURRENT_USER and the names
// of its four values.
#pragma once

namespace autobackup {

// The leading backslash makes the path absolute: it is opened below the root key, never below
// a key that happens to be open.
constexpr char kScheduleKeyPath[] = "\\Software\\Tarvik Tools\\TarvikEmailBackup";

constexpr char kLastBackupDate[] = "LastBackupDate";  // 8-byte binary double; the one we write
constexpr char kBackupTime[] = "BackupTime";          // 8-byte binary double; read, not used
constexpr char kBackupPeriod[] = "BackupPeriod";      // 32-bit integer: the period kind
constexpr char kBackupInterval[] = "BackupInterval";  // 32-bit integer: units per backup

}  // namespace autobackup
