// An address space the tests lay out by hand: loaded modules and committed memory of no module.
#pragma once

#include <vector>

#include "platform/module_lookup.h"

namespace autobackup {

class FakeModuleLookup : public ModuleLookup {
 public:
  explicit FakeModuleLookup(std::string program_file_name)
      : program_file_name_(std::move(program_file_name)) {}

  // A module image loaded at `base`, `size` bytes long, all of it committed.
  void AddModule(uintptr_t base, uintptr_t size, std::string path);
  // Committed memory that belongs to no module (heap, stack).
  void AddMemory(uintptr_t base, uintptr_t size);
  // Address space reserved but not committed, inside the allocation that starts at
  // `allocation_base` (a gap in a module image, say); it takes precedence over the allocation.
  void AddReserved(uintptr_t base, uintptr_t size, uintptr_t allocation_base);

  TMemoryRegion QueryRegion(uintptr_t address) override;
  std::string ModuleFileName(uintptr_t base) override;
  std::string ProgramFileName() override { return program_file_name_; }

 private:
  struct Region {
    uintptr_t base;
    uintptr_t size;
    std::string path;  // Empty for memory of no module.
  };
  struct Reserved {
    uintptr_t base;
    uintptr_t size;
    uintptr_t allocation_base;
  };
  static bool Holds(uintptr_t base, uintptr_t size, uintptr_t address) {
    return address >= base && address - base < size;
  }

  std::string program_file_name_;
  std::vector<Region> regions_;
  std::vector<Reserved> reserved_;
};

}  // namespace autobackup
