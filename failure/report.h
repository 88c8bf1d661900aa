// The fatal error report: the one message box every escaping failure ends in, then exit code 1.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

#include "failure/failures.h"
#include "platform/check_lock.h"
#include "platform/message_boxes.h"
#include "platform/module_lookup.h"

namespace autobackup {

// Ends the process with the given exit code; never returns.
using ExitFunction = void (*)(int exit_code);

// The report is shown at most once in a process, whichever path gets there first: the
// top-level handler and the fault filter share one guard.
class TReportGuard {
 public:
  // True for the first caller only.
  bool Claim() { return !claimed_.exchange(true); }
  bool Claimed() const { return claimed_.load(); }

 private:
  std::atomic<bool> claimed_{false};
};

// What the report needs of the operating system, handed down by the entry.
struct TReportServices {
  ModuleLookup& modules;
  MessageBoxes& boxes;
  ExitFunction exit_process;
  TReportGuard& guard;
  // The monitor's check lock: the reporting thread gives back what it holds before the box waits
  // on the user, so the user's other copies go on checking meanwhile.
  CheckLock& check_lock;
};

// Room the report's text gets, terminator included.
constexpr size_t kReportCapacity = 1024;

// `pattern` filled with the failure's type name, the module that holds `address`, the offset
// there, the message (empty unless the failure is an Exception) and a closing period unless
// the message is empty or already has one; cut to fit `capacity` bytes with a terminator.
std::string ComposeFailureText(const TObject& failure, const void* address,
                               const std::string& pattern, size_t capacity, ModuleLookup& modules);

// Gives back the calling thread's holds of the check lock, shows the report in one task-modal
// error box, then ends the process with exit code 1. When a report was shown already, ends the
// process with exit code 1 and shows nothing.
[[noreturn]] void ReportFatalFailure(const TObject& failure, const void* address,
                                     const TReportServices& services);

}  // namespace autobackup
