// The schedule tool's text forms: what the end-to-end tests write and compare must be exactly
// the bytes and dates they meant.
#include "e2e/tools/schedule_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace autobackup {
namespace {

TEST(HexBytesTest, PrintsBytesInStoredOrderAndRoundTrips) {
  const double one = 1.0;  // 3FF0000000000000, stored little-endian
  EXPECT_EQ(HexBytes(&one, sizeof one), "000000000000f03f");
  EXPECT_EQ(HexBytes(nullptr, 0), "-");

  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ParseHexBytes("00fFa0", &bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0x00, 0xff, 0xa0}));
  EXPECT_EQ(HexBytes(bytes.data(), bytes.size()), "00ffa0");
  ASSERT_TRUE(ParseHexBytes("-", &bytes));
  EXPECT_TRUE(bytes.empty());
}

TEST(HexBytesTest, RejectsOddLengthsAndForeignCharacters) {
  std::vector<uint8_t> bytes{1, 2};
  for (const char* bad : {"", "0", "abc", "0g", "g0", " 00", "0x00", "--"}) {
    EXPECT_FALSE(ParseHexBytes(bad, &bytes)) << bad;
    EXPECT_TRUE(bytes.empty()) << bad;
  }
}

TEST(ParseRegTypeTest, NamesAndNumbers) {
  const struct {
    const char* text;
    RegType type;
  } kGood[] = {{"none", 0},  {"sz", 1},  {"binary", 3},
               {"dword", 4}, {"11", 11}, {"4294967295", 4294967295u}};
  for (const auto& c : kGood) {
    RegType type = 99;
    EXPECT_TRUE(ParseRegType(c.text, &type)) << c.text;
    EXPECT_EQ(type, c.type) << c.text;
  }
  RegType type = 0;
  for (const char* bad : {"", "DWORD", "4294967296", "-1", "3 ", "reg_binary"}) {
    EXPECT_FALSE(ParseRegType(bad, &type)) << bad;
  }
}

TEST(ParseInt32Test, AcceptsTheWholeRangeAndNothingElse) {
  const struct {
    const char* text;
    int32_t value;
  } kGood[] = {{"0", 0}, {"-1", -1}, {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN}};
  for (const auto& c : kGood) {
    int32_t value = 7;
    EXPECT_TRUE(ParseInt32(c.text, &value)) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
  int32_t value = 0;
  for (const char* bad :
       {"", "-", "--1", "+1", "2147483648", "-2147483649", "1.0", "12a", " 1", "99999999999"}) {
    EXPECT_FALSE(ParseInt32(bad, &value)) << bad;
  }
}

TEST(ReadableDateTest, CalendarDatesAndTimes) {
  const struct {
    TSerialDateTime value;
    const char* text;
  } kCases[] = {
      {0.0, "1899-12-30 00:00:00.000"},
      {2.0, "1900-01-01 00:00:00.000"},
      {45000.75, "2023-03-15 18:00:00.000"},
      // Before the epoch the whole part counts back, the fraction still forward.
      {-1.25, "1899-12-29 06:00:00.000"},
      {kFirstDate, "0001-01-01 00:00:00.000"},
      {kLastDate + 0.5, "9999-12-31 12:00:00.000"},
      // Rounded to the millisecond: half a millisecond before midnight is the next day.
      {1.0 - 0.4 / 86400000.0, "1899-12-31 00:00:00.000"},
      {1.0 - 0.6 / 86400000.0, "1899-12-30 23:59:59.999"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ReadableDate(c.value), c.text) << c.value;
  }
}

TEST(ReadableDateTest, ValuesOutsideTheCalendarAreNoDate) {
  for (double value :
       {kLastDate + 1.0, kFirstDate - 1.0, 1e300, -1e12, std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_EQ(ReadableDate(value), "not-a-date") << value;
  }
}

TEST(ParseDateSpecTest, NowAndOffsetsInDays) {
  const TSerialDateTime now = 46000.25;
  TSerialDateTime value = 0;
  ASSERT_TRUE(ParseDateSpec("now", now, &value));
  EXPECT_EQ(value, now);
  ASSERT_TRUE(ParseDateSpec("now-3.9", now, &value));
  EXPECT_EQ(value, now - 3.9);
  ASSERT_TRUE(ParseDateSpec("now+0.5", now, &value));
  EXPECT_EQ(value, 46000.75);
  for (const char* bad :
       {"now-", "now+", "now--1", "now-+1", "now 1", "now-1e3", "now-x", "nowhere", "now-inf"}) {
    EXPECT_FALSE(ParseDateSpec(bad, now, &value)) << bad;
  }
}

TEST(ParseDateSpecTest, CalendarForms) {
  const struct {
    const char* text;
    const char* readable;
  } kCases[] = {
      {"2023-01-31", "2023-01-31 00:00:00.000"},
      {"2023-01-31T10:00", "2023-01-31 10:00:00.000"},
      {"2023-01-31 10:20:30", "2023-01-31 10:20:30.000"},
      {"2024-02-29T23:59:59.999", "2024-02-29 23:59:59.999"},
      {"1899-12-29T06:00", "1899-12-29 06:00:00.000"},
  };
  for (const auto& c : kCases) {
    TSerialDateTime value = 0;
    ASSERT_TRUE(ParseDateSpec(c.text, 0.0, &value)) << c.text;
    EXPECT_EQ(ReadableDate(value), c.readable) << c.text;
  }
  TSerialDateTime value = 0;
  ASSERT_TRUE(ParseDateSpec("1900-01-01T12:00", 0.0, &value));
  EXPECT_EQ(value, 2.5);
  ASSERT_TRUE(ParseDateSpec("1899-12-29T06:00", 0.0, &value));
  EXPECT_EQ(value, -1.25);
}

TEST(ParseDateSpecTest, RejectsDatesTheCalendarDoesNotHave) {
  TSerialDateTime value = 0;
  for (const char* bad :
       {"2023-02-29", "2023-04-31", "2023-13-01", "2023-00-10", "0000-01-01", "2023-01-31T24:00",
        "2023-01-31T10:60", "2023-01-31T10:00:60", "2023-01-31T10:00:00.5", "2023-01-31X10:00",
        "2023-01-31T10", "2023-01-31T10:00:00.000Z", "2023-1-31"}) {
    EXPECT_FALSE(ParseDateSpec(bad, 0.0, &value)) << bad;
  }
}

TEST(ParseDateSpecTest, RawBytesAndSerialNumbers) {
  TSerialDateTime value = 0;
  ASSERT_TRUE(ParseDateSpec("hex:000000000000f03f", 0.0, &value));
  EXPECT_EQ(value, 1.0);
  // Any bit pattern passes through untouched, a NaN's included.
  ASSERT_TRUE(ParseDateSpec("hex:010000000000f07f", 0.0, &value));
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  EXPECT_EQ(bits, 0x7ff0000000000001u);
  EXPECT_FALSE(ParseDateSpec("hex:000000000000f0", 0.0, &value));
  EXPECT_FALSE(ParseDateSpec("hex:000000000000f03f00", 0.0, &value));

  ASSERT_TRUE(ParseDateSpec("45000.5", 0.0, &value));
  EXPECT_EQ(value, 45000.5);
  ASSERT_TRUE(ParseDateSpec("-2", 0.0, &value));
  EXPECT_EQ(value, -2.0);
  for (const char* bad : {"", "45000.5x", " 45000", "nan", "inf", "1e999"}) {
    EXPECT_FALSE(ParseDateSpec(bad, 0.0, &value)) << bad;
  }
}

}  // namespace
}  // namespace autobackup
