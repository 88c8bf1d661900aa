// Text crosses the Win32 boundary here: UTF-8 inside the program, UTF-16 in the wide calls.
#pragma once

#include <string>
#include <string_view>

namespace autobackup {

// Invalid UTF-8 becomes U+FFFD; the program's own texts never hold any.
std::wstring WideFromUtf8(std::string_view text);
// An unpaired surrogate (a name the file system holds but no UTF-8 can spell) becomes U+FFFD.
std::string Utf8FromWide(std::wstring_view text);

}  // namespace autobackup
