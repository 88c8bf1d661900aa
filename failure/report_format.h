// The pieces the fatal report's texts are made of: hexadecimal numbers and the module that holds
// an address (the string table's patterns are filled by FillPattern, with the failure types).
#pragma once

#include <cstdint>
#include <string>

#include "platform/module_lookup.h"

namespace autobackup {

// Digits of an absolute address: eight on a 32-bit build, sixteen on a 64-bit one.
constexpr size_t kAddressDigits = 2 * sizeof(void*);
// Digits of an offset within a module.
constexpr size_t kOffsetDigits = 8;

// `value` in capital hexadecimal digits, with leading zeros up to `min_digits`; never cut.
std::string HexText(uint64_t value, size_t min_digits);

// The part of a module path (UTF-8) after its last backslash.
std::string ModuleNamePart(const std::string& path);

// Where an address lies: in a loaded module, or (when no module holds it) charged to the program's
// own executable, as an offset from where its code starts (0x1000, after the headers' page).
struct TModulePlace {
  bool InModule = false;
  std::string Name;      // File name without its directory.
  uintptr_t Offset = 0;  // From the module's load address.
};
TModulePlace LocateAddress(uintptr_t address, ModuleLookup& modules);

}  // namespace autobackup
