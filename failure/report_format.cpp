// Hexadecimal numbers and module names for the fatal report.
#include "failure/report_format.h"

namespace autobackup {

namespace {
// Where an image's first section, its code, starts from its load address: after the 0x1000 bytes
// of the page that holds the image's headers.
constexpr uintptr_t kProgramCodeStart = 0x1000;
}  // namespace

std::string HexText(uint64_t value, size_t min_digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string reversed;
  do {
    reversed += kDigits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  if (reversed.size() < min_digits) {
    reversed.append(min_digits - reversed.size(), '0');
  }
  return std::string(reversed.rbegin(), reversed.rend());
}

std::string ModuleNamePart(const std::string& path) {
  return path.substr(FileNameStart(path, "\\"));
}

TModulePlace LocateAddress(uintptr_t address, ModuleLookup& modules) {
  TMemoryRegion region = modules.QueryRegion(address);
  if (region.Committed) {
    std::string path = modules.ModuleFileName(region.AllocationBase);
    if (!path.empty()) {
      return {true, ModuleNamePart(path), address - region.AllocationBase};
    }
  }
  // Memory of no module (a wild jump, code made at run time) is charged to the program, the one
  // module the report can always name, and the address read as an offset from the start of its
  // code, wrapping like the address arithmetic it is; a null address is offset 0.
  uintptr_t offset = address == 0 ? 0 : address - kProgramCodeStart;
  return {false, ModuleNamePart(modules.ProgramFileName()), offset};
}

}  // namespace autobackup
