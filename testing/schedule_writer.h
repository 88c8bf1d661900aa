// Writes a whole schedule for a test or a measurement: the schedule key, created if missing, with
// its four values in the types the backup application stores them in.
#pragma once

#include "platform/registry.h"
#include "scheduling/due_rules.h"
#include "settings/schedule_key.h"

namespace autobackup {

// True when the key opened and every value was written.
inline bool WriteSchedule(Registry& registry, const TScheduleSettings& schedule) {
  RegKey key = 0;
  if (registry.CreateKey(kRootCurrentUser, kScheduleKeyPath + 1, &key) != kStatusSuccess) {
    return false;
  }
  const TScheduleSettings& s = schedule;
  const bool written =
      registry.SetValue(key, kLastBackupDate, kTypeBinary, &s.LastBackupDate, 8) == 0 &&
      registry.SetValue(key, kBackupTime, kTypeBinary, &s.BackupTime, 8) == 0 &&
      registry.SetValue(key, kBackupPeriod, kTypeDword, &s.BackupPeriod, 4) == 0 &&
      registry.SetValue(key, kBackupInterval, kTypeDword, &s.BackupInterval, 4) == 0;
  registry.CloseKey(key);
  return written;
}

}  // namespace autobackup
