// The system's own answer to which loaded module holds an address.
#pragma once

#include "platform/module_lookup.h"

namespace autobackup {

class Win32ModuleLookup : public ModuleLookup {
 public:
  TMemoryRegion QueryRegion(uintptr_t address) override;
  std::string ModuleFileName(uintptr_t base) override;
  std::string ProgramFileName() override;
};

}  // namespace autobackup
