#include "platform/win32/library_search.h"

#include <windows.h>

namespace autobackup {

void RestrictLibrarySearch() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto set_directories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (set_directories != nullptr) {
    set_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
}

}  // namespace autobackup
