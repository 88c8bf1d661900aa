// What the whole-program runs cannot reach at the boundary: surrogates.
#include "platform/win32/wide_text.h"

#include <gtest/gtest.h>

namespace autobackup {
namespace {

TEST(WideText, SurrogatePairsConvertAndUnpairedHalvesComeBackUnchanged) {
  EXPECT_EQ(WideFromUtf8("\xF0\x9D\x84\x9E.exe"), L"\xD834\xDD1E.exe");
  EXPECT_EQ(Utf8FromWide(L"\xD834\xDD1E.exe"), "\xF0\x9D\x84\x9E.exe");
  // A name cut between the halves of a pair, and a second half alone: three bytes each, and back.
  EXPECT_EQ(Utf8FromWide(L"ab\xD834"), "ab\xED\xA0\xB4");
  EXPECT_EQ(Utf8FromWide(L"\xDD1E\\x"), "\xED\xB4\x9E\\x");
  for (const WideText name : {L"ab\xD834", L"\xDD1E\xD834", L"\xD834\xD834\xDD1E"}) {
    EXPECT_EQ(WideFromUtf8(Utf8FromWide(name)), name);
  }
}

}  // namespace
}  // namespace autobackup
