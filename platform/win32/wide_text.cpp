#include "platform/win32/wide_text.h"

#include <cstdint>

namespace autobackup {
namespace {

constexpr wchar_t kReplacement = 0xFFFD;

bool IsHighSurrogate(uint32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(uint32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

WideText WideFromUtf8(std::string_view text) {
  WideText wide;
  wide.reserve(text.size());
  size_t at = 0;
  while (at < text.size()) {
    const auto lead = static_cast<unsigned char>(text[at++]);
    if (lead < 0x80) {
      wide += static_cast<wchar_t>(lead);
      continue;
    }
    // Continuation bytes the lead byte asks for, and the range of the first of them that keeps
    // the code point in its shortest form and within U+10FFFF. Surrogates are let through (ED A0
    // to ED BF): that is the whole difference from UTF-8.
    int needed = 0;
    unsigned low = 0x80, high = 0xBF;
    uint32_t point = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      needed = 1;
      point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      needed = 2;
      point = lead & 0x0F;
      low = lead == 0xE0 ? 0xA0 : 0x80;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      needed = 3;
      point = lead & 0x07;
      low = lead == 0xF0 ? 0x90 : 0x80;
      high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    int taken = 0;
    while (taken < needed && at < text.size()) {
      const auto next = static_cast<unsigned char>(text[at]);
      if (next < (taken == 0 ? low : 0x80) || next > (taken == 0 ? high : 0xBF)) {
        break;
      }
      point = point << 6 | (next & 0x3F);
      ++at;
      ++taken;
    }
    if (needed == 0 || taken < needed) {
      wide += kReplacement;
    } else if (point >= 0x10000) {
      point -= 0x10000;
      wide += static_cast<wchar_t>(0xD800 + (point >> 10));
      wide += static_cast<wchar_t>(0xDC00 + (point & 0x3FF));
    } else {
      wide += static_cast<wchar_t>(point);
    }
  }
  return wide;
}

std::string Utf8FromWide(std::wstring_view text) {
  std::string utf8;
  utf8.reserve(text.size());
  for (size_t at = 0; at < text.size(); ++at) {
    uint32_t point = static_cast<uint16_t>(text[at]);
    if (IsHighSurrogate(point) && at + 1 < text.size() &&
        IsLowSurrogate(static_cast<uint16_t>(text[at + 1]))) {
      point = 0x10000 + ((point - 0xD800) << 10) + (static_cast<uint16_t>(text[++at]) - 0xDC00);
    }
    if (point < 0x80) {
      utf8 += static_cast<char>(point);
    } else if (point < 0x800) {
      utf8 += static_cast<char>(0xC0 | point >> 6);
      utf8 += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
      utf8 += static_cast<char>(0xE0 | point >> 12);
      utf8 += static_cast<char>(0x80 | (point >> 6 & 0x3F));
      utf8 += static_cast<char>(0x80 | (point & 0x3F));
    } else {
      utf8 += static_cast<char>(0xF0 | point >> 18);
      utf8 += static_cast<char>(0x80 | (point >> 12 & 0x3F));
      utf8 += static_cast<char>(0x80 | (point >> 6 & 0x3F));
      utf8 += static_cast<char>(0x80 | (point & 0x3F));
    }
  }
  return utf8;
}

}  // namespace autobackup
