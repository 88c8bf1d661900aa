// Windows builds: the string table's texts from the executable's STRINGTABLE resource.
#include <windows.h>

#include "platform/string_table.h"

namespace autobackup {

std::string LoadText(StringId id) {
  char text[1024];
  int length = LoadStringA(GetModuleHandleA(nullptr), static_cast<UINT>(id), text, sizeof text);
  return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}

}  // namespace autobackup
