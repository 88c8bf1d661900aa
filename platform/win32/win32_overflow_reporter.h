// The report of a stack overflow, made by a thread of its own: the overflowed thread has too
// little stack, and perhaps a lock held (the heap's, the loader's), to make it itself.
#pragma once

#include "failure/report.h"

namespace autobackup {

// Ends the process with exit code 1 at once: no runtime shutdown, no library detach, nothing that
// could wait on a lock the failing thread holds.
[[noreturn]] void EndAtOnce();

// Starts the thread that, once woken, reports the recorded overflow with `report` on the
// services (their end after OK made immediate); keeps stack back on the calling thread for the
// filter after an overflow. The services must live as long as the process.
void StartOverflowReporter(const TReportServices& services,
                           void (*report)(const TReportServices& services));

// On the overflowed thread: gives back its check-lock holds, wakes the reporting thread and
// waits a bounded time for its box; once the box is up the user decides when the process ends.
// Needs next to no stack.
[[noreturn]] void ReportOverflow();

}  // namespace autobackup
