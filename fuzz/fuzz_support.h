// Shared by the fuzz targets: fixed little-endian fields read from the fuzzer's bytes, values
// drawn from them, the property check that stops a run, and the test that a failure is one the
// program may end in. The targets' initialisation is here too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>

#include "failure/failures.h"

namespace autobackup::fuzz {

// Reads fields front to back; bytes past the end of the input read as zero, so every input,
// however short, decodes to some case.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint64_t Bits(int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
      value |= uint64_t{Next()} << (8 * i);
    }
    return value;
  }
  uint8_t Byte() { return Next(); }
  uint16_t U16() { return static_cast<uint16_t>(Bits(2)); }
  uint32_t U32() { return static_cast<uint32_t>(Bits(4)); }
  uint64_t U64() { return Bits(8); }
  size_t Remaining() const { return offset_ < size_ ? size_ - offset_ : 0; }

 private:
  uint8_t Next() { return offset_ < size_ ? data_[offset_++] : (offset_++, 0); }

  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
};

inline double FromBits(uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

inline uint64_t ToBits(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// From the day before 0001-01-01 to the day after 9999-12-31, with any time of day.
double CalendarValue(uint64_t bits);
// A signed span from about 2^-9 days up to 2^22 days; the low five bits choose the scale.
double SpanOfAnyScale(uint64_t bits);

// Reports a broken property with its printf-style details and ends the run, so that the fuzzer
// keeps the input.
[[noreturn]] void Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Fails with the message unless the property holds.
#define FUZZ_REQUIRE(property, ...)          \
  do {                                       \
    if (!(property)) {                       \
      ::autobackup::fuzz::Fail(__VA_ARGS__); \
    }                                        \
  } while (0)

// The failure must be of one of the named types, exactly, and carry that type's own message.
// A registry failure must name one of the four schedule values.
void RequireAllowed(const Exception& failure, std::initializer_list<const char*> allowed);

}  // namespace autobackup::fuzz
