// Text crosses the Win32 boundary here: UTF-8 inside the program, UTF-16 in the wide calls.
// Names come from the file system, which allows any sequence of 16-bit units, also a surrogate
// without its other half; the 8-bit side is therefore WTF-8, UTF-8 that also spells such a lone
// surrogate (as the three bytes its code point would take), so that every name the system gives
// comes back to it unchanged. For text without lone surrogates it is exactly UTF-8.
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

// Each maximal invalid piece of the 8-bit text becomes one U+FFFD; the program's own texts never
// hold any.
WideText WideFromUtf8(std::string_view text);
// A surrogate pair becomes its four-byte code point, a lone surrogate its three bytes.
std::string Utf8FromWide(std::wstring_view text);

}  // namespace autobackup
