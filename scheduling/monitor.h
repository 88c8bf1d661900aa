// The monitor cycle: waits for timer messages, lets the first twelve pass, then checks the
// schedule on every one, starting the backup application when a backup is due.
#pragma once

#include <cstdint>
#include <string>

#include "failure/failures.h"
#include "platform/check_lock.h"
#include "platform/clock.h"
#include "platform/message_boxes.h"
#include "platform/message_queue.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace autobackup {

// The period of the timer messages the cycle waits for, for the start-up handshake as well.
constexpr uint32_t kTickMilliseconds = 1000;
// Timer messages that only count before the first check.
constexpr int32_t kSettlingTicks = 12;
// Checks in a row that may find the check lock taken before a copy checks without it: a copy
// stopped inside its check (suspended, held in a debugger, stuck in a start from a share that went
// away) holds the lock for as long as it stands still, and must not stop the others' backups for
// more than a minute.
constexpr int32_t kLockPatienceTicks = 60;

// The operating-system back ends the cycle works with, handed down by the entry.
struct TMonitorServices {
  Registry& registry;
  Clock& clock;
  MessageQueue& queue;
  ProcessStarter& starter;
  MessageBoxes& boxes;
  CheckLock& lock;
};

class TIdleMonitor : public TObject {
 public:
  const char* TypeName() const override { return "TIdleMonitor"; }
  bool StopRequested = false;
  // Checks in a row that found the lock taken, up to kLockPatienceTicks; 0 once a check gets it.
  int32_t LockTakenChecks = 0;
};

// Runs until a check finds a schedule value missing. Failures pass through untouched.
void Run(TIdleMonitor& monitor, const std::string& program_directory,
         const TMonitorServices& services);

// One check of the schedule. Returns true when a schedule value is missing. While another copy of
// the user's is inside its check, this one does nothing and returns false: the next tick tries
// again. Once `monitor` has found the lock taken kLockPatienceTicks checks in a row, it checks
// without the lock until a check gets it again.
bool CheckSchedule(TIdleMonitor& monitor, const std::string& program_directory,
                   const TMonitorServices& services);

}  // namespace autobackup
