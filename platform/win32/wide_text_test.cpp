// What the whole-program runs cannot reach at the boundary: each encoded length's first and last
// code point, surrogates, and 8-bit text that is no WTF-8.
#include "platform/win32/wide_text.h"

#include <gtest/gtest.h>

#include <string_view>

namespace autobackup {
namespace {

using namespace std::literals;

TEST(WideText, LengthBoundsAndSurrogatesComeBackUnchangedAndEachInvalidPieceIsOneReplacement) {
  const struct {
    std::string_view utf8;
    std::wstring_view wide;
    bool back;  // the wide text converts back to these bytes
  } kRows[] = {
      // The first and the last code point of each encoded length.
      {"\0"sv, L"\0"sv, true},
      {"\x7F", L"\x7F", true},
      {"\xC2\x80", L"\x80", true},
      {"\xDF\xBF", L"\x7FF", true},
      {"\xE0\xA0\x80", L"\x800", true},
      {"\xEF\xBF\xBF", L"\xFFFF", true},
      {"\xF0\x90\x80\x80", L"\xD800\xDC00", true},
      {"\xF4\x8F\xBF\xBF", L"\xDBFF\xDFFF", true},
      // A pair; a name cut between the halves of a pair, a second half alone, halves out of order:
      // three bytes each.
      {"\xF0\x9D\x84\x9E.exe", L"\xD834\xDD1E.exe", true},
      {"ab\xED\xA0\xB4", L"ab\xD834", true},
      {"\xED\xB4\x9E\\x", L"\xDD1E\\x", true},
      {"\xED\xB4\x9E\xED\xA0\xB4", L"\xDD1E\xD834", true},
      {"\xED\xA0\xB4\xF0\x9D\x84\x9E", L"\xD834\xD834\xDD1E", true},
      // Cut at the end (though the byte past it would complete it) and in the middle.
      {"x\xE2\x82\xAC"sv.substr(0, 3), L"x\xFFFD", false},
      {"\xF0\x9F\x98x", L"\xFFFDx", false},
      // Overlong, and above U+10FFFF: no sequence at all, every byte a piece of its own; a stray
      // continuation byte.
      {"\xC1\xBF", L"\xFFFD\xFFFD", false},
      {"\xE0\x9F\xBF", L"\xFFFD\xFFFD\xFFFD", false},
      {"\xF4\x90\x80\x80", L"\xFFFD\xFFFD\xFFFD\xFFFD", false},
      {"x\x80y", L"x\xFFFDy", false},
  };
  for (const auto& row : kRows) {
    const auto at = &row - kRows;
    EXPECT_EQ(WideFromUtf8(row.utf8), row.wide) << "row " << at;
    if (row.back) {
      EXPECT_EQ(Utf8FromWide(row.wide), row.utf8) << "row " << at;
    }
  }
}

}  // namespace
}  // namespace autobackup
