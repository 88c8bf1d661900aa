// The boundary conversion, where the whole-program runs cannot reach: surrogates.
#include "platform/win32/wide_text.h"

#include <gtest/gtest.h>

namespace autobackup {
namespace {

TEST(WideText, ConvertsBothWaysUnchanged) {
  const struct {
    std::string utf8;
    std::wstring wide;
  } cases[] = {
      {"", L""},
      {"C:\\Почта 邮件\\", L"C:\\\u041F\u043E\u0447\u0442\u0430 \u90AE\u4EF6\\"},
      {"\xF0\x9D\x84\x9E.exe", L"\xD834\xDD1E.exe"},  // beyond 16 bits: a surrogate pair
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WideFromUtf8(c.utf8), c.wide) << c.utf8;
    EXPECT_EQ(Utf8FromWide(c.wide), c.utf8) << c.utf8;
  }
}

TEST(WideText, UnpairedSurrogateBecomesTheReplacementCharacter) {
  // A name cut between the halves of a pair, and a second half alone.
  EXPECT_EQ(Utf8FromWide(L"ab\xD834"), "ab\xEF\xBF\xBD");
  EXPECT_EQ(Utf8FromWide(L"\xDD1E\\x"), "\xEF\xBF\xBD\\x");
}

}  // namespace
}  // namespace autobackup
