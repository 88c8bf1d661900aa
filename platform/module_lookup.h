// Which loaded module holds an address: what the fatal report needs to name a failure's place.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace autobackup {

// What the system tells about the memory region that holds an address.
struct TMemoryRegion {
  bool Committed = false;        // State is MEM_COMMIT.
  uintptr_t AllocationBase = 0;  // 0 for free or unknown memory.
};

class ModuleLookup {
 public:
  virtual ~ModuleLookup() = default;
  // The region that holds `address`; one the system cannot describe counts as not committed.
  virtual TMemoryRegion QueryRegion(uintptr_t address) = 0;
  // The full path in UTF-8 of the module loaded at `base`, or empty when none is (0 included,
  // which never names the program).
  virtual std::string ModuleFileName(uintptr_t base) = 0;
  // The full path of the program's own executable in UTF-8, whatever its characters.
  virtual std::string ProgramFileName() = 0;
};

// Where the file name in `path` (UTF-8) starts: just after the last of the `separators` (ASCII),
// or 0 when there is none. Every byte of a multi-byte character is 0x80 or above, so no part of
// one is ever taken for a separator.
size_t FileNameStart(const std::string& path, std::string_view separators);

}  // namespace autobackup
