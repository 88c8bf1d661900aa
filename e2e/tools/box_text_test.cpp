// The box tool's printed text must keep line breaks and every other byte distinguishable, since
// the scenarios compare the report's layout to the byte.
#include "e2e/tools/box_text.h"

#include <gtest/gtest.h>

namespace autobackup {
namespace {

TEST(EscapedTextTest, WritesControlBytesAndBackslashesAsEscapes) {
  const struct {
    std::string text;
    const char* escaped;
  } kCases[] = {
      {"", ""},
      {"Division by zero.", "Division by zero."},
      {"a.\r\nb.\r\n", "a.\\r\\nb.\\r\\n"},
      {"\n\r", "\\n\\r"},
      {"x\ty", "x\\ty"},
      // An escaped backslash cannot be mistaken for the start of an escape.
      {"C:\\run\\n", "C:\\\\run\\\\n"},
      {"\\r", "\\\\r"},
      {std::string("a\0b", 3), "a\\x00b"},
      {"\x1f \x7e\x7f", "\\x1f ~\\x7f"},
      {"\x80\xff\x81\\", "\\x80\\xff\\x81\\\\"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(EscapedText(c.text), c.escaped) << c.escaped;
  }
}

}  // namespace
}  // namespace autobackup
