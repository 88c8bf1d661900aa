// The text forms the schedule tool reads and prints: byte strings in hex, registry types, and
// dates as "now", "now-3.9", "2023-01-31T10:00:00.000", "hex:<8 bytes>" or a plain serial number.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "calendar/calendar.h"
#include "platform/registry.h"

namespace autobackup {

// Bytes in stored order as lower-case hex digits, two per byte; "-" stands for no bytes.
std::string HexBytes(const void* data, size_t size);
bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* bytes);

// A registry type by name (none, sz, binary, dword) or by number.
bool ParseRegType(const std::string& text, RegType* type);
// A signed 32-bit decimal integer, nothing else.
bool ParseInt32(const std::string& text, int32_t* value);

// "YYYY-MM-DD hh:mm:ss.mmm" of the value rounded to the millisecond, or "not-a-date" when the
// value is not finite or lies outside 0001-01-01 to 9999-12-31.
std::string ReadableDate(TSerialDateTime value);

// A date in any of the forms above; `now` stands for the present moment. Offsets after "now" are
// days, fractions allowed. False for anything malformed, a calendar date that does not exist
// included.
bool ParseDateSpec(const std::string& text, TSerialDateTime now, TSerialDateTime* value);

}  // namespace autobackup
