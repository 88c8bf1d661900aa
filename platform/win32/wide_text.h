// Text crosses the Win32 boundary here: UTF-8 inside the program, UTF-16 in the wide calls.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace autobackup {

// The allocator of the program's UTF-16 text. Its own type keeps the string's code in the
// program, only the members it uses: the standard wide string comes compiled whole with the
// runtime, about 20 KiB of the exe for a handful of members.
template <typename T>
struct TextAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = TextAllocator<U>;
  };
  TextAllocator() = default;
  template <typename U>
  TextAllocator(const TextAllocator<U>&) noexcept {}
};
using WideText = std::basic_string<wchar_t, std::char_traits<wchar_t>, TextAllocator<wchar_t>>;

// Invalid UTF-8 becomes U+FFFD; the program's own texts never hold any.
WideText WideFromUtf8(std::string_view text);
// An unpaired surrogate (a name the file system holds but no UTF-8 can spell) becomes U+FFFD.
std::string Utf8FromWide(std::wstring_view text);

}  // namespace autobackup
