// Text forms of bytes, registry types and dates for the schedule tool.
#include "e2e/tools/schedule_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "calendar/extended.h"

namespace autobackup {

namespace {

// Day number (0001-01-01 is 1) of 9999-12-31.
constexpr int32_t kLastDayNumber = static_cast<int32_t>(kLastDate) + EpochDayNumber;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// Exactly `width` decimal digits at text[*at], moving *at past them.
bool Digits(const std::string& text, size_t* at, size_t width, int* value) {
  if (text.size() < *at + width) {
    return false;
  }
  *value = 0;
  for (size_t i = 0; i < width; ++i) {
    const char c = text[*at + i];
    if (c < '0' || c > '9') {
      return false;
    }
    *value = *value * 10 + (c - '0');
  }
  *at += width;
  return true;
}

bool Literal(const std::string& text, size_t* at, char c) {
  if (*at < text.size() && text[*at] == c) {
    ++*at;
    return true;
  }
  return false;
}

// A whole decimal floating-point number, nothing before or after it.
bool ParseNumber(const std::string& text, double* value) {
  if (text.empty() || text[0] == ' ' || text[0] == '\t') {
    return false;
  }
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && std::isfinite(*value);
}

// YYYY-MM-DD, optionally followed by T or a blank and hh:mm, hh:mm:ss or hh:mm:ss.mmm.
bool ParseCalendarDate(const std::string& text, TSerialDateTime* value) {
  size_t at = 0;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  if (!Digits(text, &at, 4, &year) || !Literal(text, &at, '-') || !Digits(text, &at, 2, &month) ||
      !Literal(text, &at, '-') || !Digits(text, &at, 2, &day)) {
    return false;
  }
  if (at < text.size()) {
    if (!Literal(text, &at, 'T') && !Literal(text, &at, ' ')) {
      return false;
    }
    if (!Digits(text, &at, 2, &hour) || !Literal(text, &at, ':') ||
        !Digits(text, &at, 2, &minute)) {
      return false;
    }
    if (Literal(text, &at, ':')) {
      if (!Digits(text, &at, 2, &second)) {
        return false;
      }
      if (Literal(text, &at, '.') && !Digits(text, &at, 3, &millisecond)) {
        return false;
      }
    }
    if (at != text.size()) {
      return false;
    }
  }
  if (year < 1 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(static_cast<uint16_t>(year), static_cast<uint16_t>(month)) || hour > 23 ||
      minute > 59 || second > 59) {
    return false;
  }
  const TSerialDateTime date = DateFromParts(
      static_cast<uint16_t>(year), static_cast<uint16_t>(month), static_cast<uint16_t>(day));
  const TSerialDateTime time =
      TimeFromParts(static_cast<uint16_t>(hour), static_cast<uint16_t>(minute),
                    static_cast<uint16_t>(second), static_cast<uint16_t>(millisecond));
  // Before 1899-12-30 the whole part counts back while the time of day still counts forward.
  *value = Narrow(date >= 0 ? Add(date, time) : Subtract(date, time));
  return true;
}

}  // namespace

std::string HexBytes(const void* data, size_t size) {
  if (size == 0) {
    return "-";
  }
  static const char kDigits[] = "0123456789abcdef";
  const auto* bytes = static_cast<const uint8_t*>(data);
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* bytes) {
  bytes->clear();
  if (text == "-") {
    return true;
  }
  if (text.empty() || text.size() % 2 != 0) {
    return false;
  }
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) {
      bytes->clear();
      return false;
    }
    bytes->push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return true;
}

bool ParseRegType(const std::string& text, RegType* type) {
  static const struct {
    const char* name;
    RegType type;
  } kNames[] = {
      {"none", kTypeNone}, {"sz", kTypeString}, {"binary", kTypeBinary}, {"dword", kTypeDword}};
  for (const auto& entry : kNames) {
    if (text == entry.name) {
      *type = entry.type;
      return true;
    }
  }
  if (text.empty() || text.size() > 10 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const unsigned long long number = std::strtoull(text.c_str(), nullptr, 10);
  if (number > UINT32_MAX) {
    return false;
  }
  *type = static_cast<RegType>(number);
  return true;
}

bool ParseInt32(const std::string& text, int32_t* value) {
  const size_t digits = text.find_first_not_of('-') == 1 ? 1 : 0;
  if (text.size() <= digits || text.size() > digits + 10 ||
      text.find_first_not_of("0123456789", digits) != std::string::npos) {
    return false;
  }
  const long long number = std::strtoll(text.c_str(), nullptr, 10);
  if (number < INT32_MIN || number > INT32_MAX) {
    return false;
  }
  *value = static_cast<int32_t>(number);
  return true;
}

std::string ReadableDate(TSerialDateTime value) {
  // Far outside the calendar the day number would not even fit the decoder.
  if (!std::isfinite(value) || std::fabs(value) > 1e7) {
    return "not-a-date";
  }
  const TDayStamp stamp = ToDayStamp(value);
  if (stamp.DayNumber < 1 || stamp.DayNumber > kLastDayNumber) {
    return "not-a-date";
  }
  uint16_t year, month, day;
  // The stamp, not the value: rounding to the millisecond may have moved it to the next day.
  SplitDate(static_cast<TSerialDateTime>(stamp.DayNumber - EpochDayNumber), year, month, day);
  const int32_t ms = stamp.Milliseconds;
  char text[40];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02ld:%02ld:%02ld.%03ld", unsigned{year},
                unsigned{month}, unsigned{day}, static_cast<long>(ms / 3600000),
                static_cast<long>(ms / 60000 % 60), static_cast<long>(ms / 1000 % 60),
                static_cast<long>(ms % 1000));
  return text;
}

bool ParseDateSpec(const std::string& text, TSerialDateTime now, TSerialDateTime* value) {
  if (text == "now") {
    *value = now;
    return true;
  }
  if (text.compare(0, 3, "now") == 0) {
    const char sign = text.size() > 3 ? text[3] : '\0';
    double days = 0;
    if ((sign != '+' && sign != '-') || !ParseNumber(text.substr(4), &days) ||
        text.find_first_of("+-eE", 4) != std::string::npos) {
      return false;
    }
    *value = sign == '+' ? now + days : now - days;
    return true;
  }
  if (text.compare(0, 4, "hex:") == 0) {
    std::vector<uint8_t> bytes;
    if (!ParseHexBytes(text.substr(4), &bytes) || bytes.size() != sizeof(double)) {
      return false;
    }
    std::memcpy(value, bytes.data(), sizeof(double));
    return true;
  }
  if (text.size() >= 10 && text[4] == '-' && text[7] == '-') {
    return ParseCalendarDate(text, value);
  }
  return ParseNumber(text, value);
}

}  // namespace autobackup
