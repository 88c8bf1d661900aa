// Turning a processor or system fault into the failure the fatal report names.
#pragma once

#include <memory>

#include "failure/failures.h"
#include "platform/module_lookup.h"

namespace autobackup {

// The failure for `fault` by the fault table; unknown codes give EExternalException. The failure
// refers to `fault`, which must outlive it. An access violation names the module that holds
// the faulting instruction, when one does.
std::unique_ptr<EExternal> FailureFromFault(const TFaultRecord& fault, ModuleLookup& modules);

}  // namespace autobackup
