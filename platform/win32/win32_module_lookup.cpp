// VirtualQuery and GetModuleFileNameW behind the module lookup.
#include "platform/win32/win32_module_lookup.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace autobackup {
namespace {

// The longest path the system holds, in UTF-16 units.
constexpr DWORD kLongestPath = 32767;

// Read in full, however deep the folder: a cut path would name the wrong directory or file.
// Empty when no module is loaded at `module`.
std::string FileNameOf(HMODULE module) {
  WideText path(MAX_PATH + 1, L'\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(path.size());
    const DWORD length = GetModuleFileNameW(module, &path[0], size);
    // A cut path fills the room (with or without its terminator, depending on the system).
    if (length < size - 1 || size > kLongestPath) {
      path.resize(length < size ? length : size);
      return Utf8FromWide(path);
    }
    path.resize(size * 2);
  }
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
  return FileNameOf(nullptr);
}

}  // namespace autobackup
