// What the module lookup's contract asks about: the fake with modules of its own, and on Windows
// the system's lookup with the test program and two system libraries.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/module_lookup.h"
#include "testing/fake/fake_module_lookup.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/win32_module_lookup.h"
#endif

namespace autobackup {

// A system library and an address in its code.
struct Library {
  uintptr_t base;
  uintptr_t code;
  std::string name;
};

// A lookup and the addresses it is asked about, with what they are known to be.
struct Subject {
  std::unique_ptr<ModuleLookup> lookup;
  uintptr_t own_base;  // Load address of this test program.
  uintptr_t own_code;  // An address in this test program's code.
  std::vector<Library> system;
  uintptr_t heap;  // Committed memory of no module.
  std::shared_ptr<void> keep_alive;
};

inline constexpr char kTestFileName[] = "module_lookup_contract_test.exe";

inline Subject MakeFake() {
  std::string own_path = std::string("C:\\build\\platform\\") + kTestFileName;
  auto fake = std::make_unique<FakeModuleLookup>(own_path);
  fake->AddModule(0x00400000, 0x80000, own_path);
  fake->AddModule(0x7B400000, 0x200000, "C:\\windows\\system32\\ntdll.dll");
  fake->AddModule(0x7B600000, 0x100000, "C:\\windows\\system32\\kernel32.dll");
  fake->AddMemory(0x01000000, 0x100000);
  return {std::move(fake),
          0x00400000,
          0x00401500,
          {{0x7B400000, 0x7B412345, "ntdll.dll"}, {0x7B600000, 0x7B61A4E0, "kernel32.dll"}},
          0x01000040,
          nullptr};
}

#ifdef _WIN32
inline Subject MakeWin32() {
  HMODULE own = GetModuleHandleA(nullptr);
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  auto address = [](auto pointer) { return reinterpret_cast<uintptr_t>(pointer); };
  auto heap = std::make_shared<std::vector<char>>(64);
  // Functions each library implements itself rather than forwards elsewhere.
  return {std::make_unique<Win32ModuleLookup>(),
          address(own),
          address(&MakeWin32),
          {{address(ntdll), address(GetProcAddress(ntdll, "NtClose")), "ntdll.dll"},
           {address(kernel32), address(GetProcAddress(kernel32, "WinExec")), "kernel32.dll"}},
          address(heap->data()),
          heap};
}
#endif

}  // namespace autobackup
