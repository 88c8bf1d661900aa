// Which loaded module holds an address: what the fatal report needs to name a failure's place.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace autobackup {

// Room for a module path: 260 characters (and a terminator).
constexpr size_t kModulePathLength = 260;

// What VirtualQuery tells about the memory region that holds an address.
struct TMemoryRegion {
  bool Committed = false;        // State is MEM_COMMIT.
  uintptr_t AllocationBase = 0;  // 0 for free or unknown memory.
};

class ModuleLookup {
 public:
  virtual ~ModuleLookup() = default;
  // VirtualQuery: an address the system cannot describe counts as not committed.
  virtual TMemoryRegion QueryRegion(uintptr_t address) = 0;
  // GetModuleFileNameA on a load address, with room for 260 characters: the module's full path,
  // or empty when no module is loaded at `base` (0 included, which never names the program).
  virtual std::string ModuleFileName(uintptr_t base) = 0;
  // GetModuleFileNameA(no module): the full path of the program's own executable, read up to
  // 65,536 characters, more than any path the system holds (32,767 UTF-16 units, two bytes each
  // at most in the ANSI code page), so in practice never cut.
  virtual std::string ProgramFileName() = 0;
  // IsDBCSLeadByte: whether `byte` starts a double-byte character in the system's ANSI code page.
  virtual bool IsLeadByte(unsigned char byte) = 0;
};

// Where the file name in `path` starts: just after the last of the `separators`, or 0 when there
// is none. A byte that is the second half of a double-byte character is never a separator.
size_t FileNameStart(const std::string& path, std::string_view separators, ModuleLookup& modules);

}  // namespace autobackup
