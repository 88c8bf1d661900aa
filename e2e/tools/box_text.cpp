#include "e2e/tools/box_text.h"

namespace autobackup {

std::string EscapedText(const std::string& text) {
  static const char kDigits[] = "0123456789abcdef";
  std::string escaped;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r') {
      escaped += "\\r";
    } else if (c == '\n') {
      escaped += "\\n";
    } else if (c == '\t') {
      escaped += "\\t";
    } else if (c == '\\') {
      escaped += "\\\\";
    } else if (byte < 0x20 || byte > 0x7e) {
      escaped += "\\x";
      escaped += kDigits[byte >> 4];
      escaped += kDigits[byte & 0xf];
    } else {
      escaped += c;
    }
  }
  return escaped;
}

}  // namespace autobackup
