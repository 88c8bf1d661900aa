// Windows builds: the string table's texts from the executable's STRINGTABLE resource, read as
// the UTF-16 they are stored in and made UTF-8 once.
#include <windows.h>

#include "platform/string_table.h"
#include "platform/win32/wide_text.h"

namespace autobackup {

std::string LoadText(StringId id) {
  wchar_t text[1024];
  const int length =
      LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id), text, ARRAYSIZE(text));
  return Utf8FromWide(std::wstring_view(text, length > 0 ? static_cast<size_t>(length) : 0));
}

}  // namespace autobackup
