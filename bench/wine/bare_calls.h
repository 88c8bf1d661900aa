// What one check asks of the system when nothing is due, in the same order, and nothing more:
// the yardstick the measurements set a whole check against.
#pragma once

namespace autobackup {

void BareCheckCalls();

}  // namespace autobackup
