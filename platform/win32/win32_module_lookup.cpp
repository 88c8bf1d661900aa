// VirtualQuery, GetModuleFileNameA and IsDBCSLeadByte behind the module lookup.
#include "platform/win32/win32_module_lookup.h"

#include <windows.h>

namespace autobackup {
namespace {

std::string FileNameOf(HMODULE module) {
  char path[kModulePathLength + 1];
  DWORD length = GetModuleFileNameA(module, path, sizeof path);
  // A longer path comes back cut, with or without its terminator depending on the system.
  if (length > kModulePathLength) {
    length = kModulePathLength;
  }
  return std::string(path, length);
}

}  // namespace

TMemoryRegion Win32ModuleLookup::QueryRegion(uintptr_t address) {
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(reinterpret_cast<LPCVOID>(address), &info, sizeof info) == 0) {
    return {};
  }
  return {info.State == MEM_COMMIT, reinterpret_cast<uintptr_t>(info.AllocationBase)};
}

std::string Win32ModuleLookup::ModuleFileName(uintptr_t base) {
  // A null handle would name the program itself, which is not what an empty region means.
  if (base == 0) {
    return {};
  }
  return FileNameOf(reinterpret_cast<HMODULE>(base));
}

std::string Win32ModuleLookup::ProgramFileName() {
  // Read in full up to 65,536 characters, beyond the longest path the system holds: a cut path
  // would name the wrong directory.
  std::string path(kModulePathLength + 1, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length < path.size() || path.size() >= 65536) {
      path.resize(length < path.size() ? length : path.size());
      return path;
    }
    path.resize(path.size() * 2);
  }
}

bool Win32ModuleLookup::IsLeadByte(unsigned char byte) {
  return IsDBCSLeadByte(byte) != FALSE;
}

}  // namespace autobackup
