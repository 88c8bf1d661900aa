// Text crosses the Win32 boundary here: UTF-8 inside the program, UTF-16 in the wide calls.
// Names come from the file system, which allows any sequence of 16-bit units, also a surrogate
// without its other half; the 8-bit side is therefore WTF-8, UTF-8 that also spells such a lone
// surrogate (as the three bytes its code point would take), so that every name the system gives
// comes back to it unchanged. For text without lone surrogates it is exactly UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace autobackup {

// Each maximal invalid piece of the 8-bit text becomes one U+FFFD; the program's own texts never
// hold any.
std::wstring WideFromUtf8(std::string_view text);
// A surrogate pair becomes its four-byte code point, a lone surrogate its three bytes.
std::string Utf8FromWide(std::wstring_view text);

}  // namespace autobackup
