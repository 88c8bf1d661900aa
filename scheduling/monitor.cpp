#include "scheduling/monitor.h"

#include "calendar/calendar.h"
#include "scheduling/due_rules.h"
#include "scheduling/launch.h"
#include "settings/registry_access.h"
#include "settings/schedule_key.h"

namespace autobackup {

bool CheckSchedule(TIdleMonitor& monitor, const std::string& program_directory,
                   const TMonitorServices& services) {
  // The user's other copies read and write the same schedule: one check at a time, or two copies
  // ticking together would both find one backup due and start it twice. A copy never waits, which
  // would block its message loop; it lets the tick pass without even opening the key (which may
  // create it), since the holder is deciding on that very schedule. Released after the key is
  // closed, on every way out of the check, or earlier before a box that waits on the user.
  ScopedCheckLock lock(services.lock);
  if (lock.Held()) {
    monitor.LockTakenChecks = 0;
  } else if (monitor.LockTakenChecks < kLockPatienceTicks - 1) {
    ++monitor.LockTakenChecks;
    return false;
  } else {
    // A minute without the lock: its holder has stopped moving. Better a backup started twice,
    // should the holder resume inside its check, than backups stopped for as long as it stands.
    monitor.LockTakenChecks = kLockPatienceTicks;
  }
  // A fresh object every check: no handle or value outlives it, so every check sees what the
  // backup application stored since the last one. Its destructor closes the key on every path.
  TRegistry registry(services.registry);
  registry.SelectRootKey(kRootCurrentUser);
  registry.EnterKey(kScheduleKeyPath, true);  // a key that will not open leaves every value absent

  bool value_missing = false;
  for (const char* name : {kLastBackupDate, kBackupTime, kBackupPeriod, kBackupInterval}) {
    if (!registry.HasValue(name)) {
      value_missing = true;
    }
  }
  if (!value_missing) {
    TScheduleSettings settings;
    settings.LastBackupDate = registry.GetDouble(kLastBackupDate);
    settings.BackupTime = registry.GetDouble(kBackupTime);  // read for its stored type only
    settings.BackupPeriod = registry.GetInt32(kBackupPeriod);
    settings.BackupInterval = registry.GetInt32(kBackupInterval);
    const TSerialDateTime present = CurrentDateTime(services.clock);
    const DueDecision decision = Decide(settings, present);
    // A failed start writes nothing, so the next check tries again.
    if (decision.Due &&
        StartBackupApplication(program_directory, services.starter, services.boxes, lock)) {
      registry.PutDouble(kLastBackupDate, decision.NewLastBackupDate);
    }
  }
  registry.LeaveKey();
  return value_missing;
}

void Run(TIdleMonitor& monitor, const std::string& program_directory,
         const TMonitorServices& services) {
  int32_t tick_count = 0;
  bool value_missing = false;
  TMessage message;
  do {
    services.queue.WaitMessage();
    // Messages are never dispatched: whatever was removed is dropped.
    if (services.queue.PeekMessageA(&message) && message.Message == kMessageTimer) {
      if (tick_count < kSettlingTicks) {
        ++tick_count;
      } else {
        if (CheckSchedule(monitor, program_directory, services)) {
          value_missing = true;
        }
        if (value_missing) {
          monitor.StopRequested = true;
        }
      }
    }
  } while (!monitor.StopRequested);
}

}  // namespace autobackup
