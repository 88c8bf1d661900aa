// What the whole-program runs cannot reach at the boundary: surrogates.
#include "platform/win32/wide_text.h"

#include <gtest/gtest.h>

namespace autobackup {
namespace {

TEST(WideText, SurrogatePairsConvertAndUnpairedHalvesBecomeTheReplacementCharacter) {
  EXPECT_EQ(WideFromUtf8("\xF0\x9D\x84\x9E.exe"), L"\xD834\xDD1E.exe");
  EXPECT_EQ(Utf8FromWide(L"\xD834\xDD1E.exe"), "\xF0\x9D\x84\x9E.exe");
  // A name cut between the halves of a pair, and a second half alone.
  EXPECT_EQ(Utf8FromWide(L"ab\xD834"), "ab\xEF\xBF\xBD");
  EXPECT_EQ(Utf8FromWide(L"\xDD1E\\x"), "\xEF\xBF\xBD\\x");
}

}  // namespace
}  // namespace autobackup
