// The hand-made address space of FakeModuleLookup.
#include "testing/fake/fake_module_lookup.h"

namespace autobackup {

void FakeModuleLookup::AddModule(uintptr_t base, uintptr_t size, std::string path) {
  regions_.push_back({base, size, std::move(path)});
}

void FakeModuleLookup::AddMemory(uintptr_t base, uintptr_t size) {
  regions_.push_back({base, size, {}});
}

void FakeModuleLookup::AddReserved(uintptr_t base, uintptr_t size, uintptr_t allocation_base) {
  reserved_.push_back({base, size, allocation_base});
}

TMemoryRegion FakeModuleLookup::QueryRegion(uintptr_t address) {
  for (const Reserved& range : reserved_) {
    if (Holds(range.base, range.size, address)) {
      return {false, range.allocation_base};
    }
  }
  for (const Region& region : regions_) {
    if (Holds(region.base, region.size, address)) {
      return {true, region.base};
    }
  }
  return {};
}

std::string FakeModuleLookup::ModuleFileName(uintptr_t base) {
  for (const Region& region : regions_) {
    if (region.base == base && !region.path.empty()) {
      return region.path;
    }
  }
  return {};
}

}  // namespace autobackup
