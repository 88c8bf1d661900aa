// TRegistry on the fake and, under Wine, on the real registry: the schedule key, malformed
// values and their messages, bit-exact doubles, and that every key is closed exactly once.
#include "settings/registry_access.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "settings/schedule_key.h"
#include "testing/registry_test_backends.h"

namespace autobackup {
namespace {

using Bytes = std::vector<uint8_t>;
const char* const kValues[] = {kLastBackupDate, kBackupTime, kBackupPeriod, kBackupInterval};
const char* const kScheduleBelowRoot = kScheduleKeyPath + 1;  // without the leading backslash

uint64_t Bits(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

Bytes LittleEndian(uint64_t bits) {
  Bytes bytes;
  for (int i = 0; i < 8; ++i, bits >>= 8) {
    bytes.push_back(static_cast<uint8_t>(bits));
  }
  return bytes;
}

template <class Read>
std::string FailureOf(Read read) {
  try {
    read();
  } catch (const ERegistryException& failure) {
    return failure.Message();
  }
  return "nothing raised";
}

template <class Backend>
class TRegistryTest : public ::testing::Test {
 protected:
  // Roots the store where the backend keeps its keys and enters the schedule key.
  void Enter(TRegistry& store) {
    store.SelectRootKey(backend_.Root());
    ASSERT_TRUE(store.EnterKey(kScheduleKeyPath, true));
  }
  void Put(const char* name, RegType type, const Bytes& data) {
    RegKey key = 0;
    ASSERT_EQ(reg_.CreateKey(backend_.Root(), kScheduleBelowRoot, &key), 0);
    EXPECT_EQ(reg_.SetValue(key, name, type, data.data(), static_cast<uint32_t>(data.size())), 0);
    reg_.CloseKey(key);
  }
  void ExpectAllClosed() {
    if (auto open = backend_.OpenHandles()) {
      EXPECT_EQ(*open, 0);
    }
  }

  Backend backend_;
  Registry& reg_ = backend_.registry;
};
TYPED_TEST_SUITE(TRegistryTest, RegistryBackends, BackendName);

TYPED_TEST(TRegistryTest, MissingScheduleKeyIsCreatedEmptyWithTheKeysAboveIt) {
  {
    TRegistry store(this->reg_);
    this->Enter(store);
    EXPECT_EQ(store.KeyPath(), "Software\\Tarvik Tools\\TarvikEmailBackup");
    for (const char* name : kValues) {
      EXPECT_FALSE(store.HasValue(name)) << name;
    }
    EXPECT_EQ(FailureOf([&] { store.GetInt32(kBackupPeriod); }),
              "Failed to get data for 'BackupPeriod'");
    EXPECT_TRUE(store.EnterKey("\\Software\\Tarvik Tools", false));
  }
  this->ExpectAllClosed();
}

TYPED_TEST(TRegistryTest, MalformedValuesFailNamingTheValueAsPassedAndLeaveTheKeyOpen) {
  struct Case {
    const char* stored_as;
    RegType type;
    Bytes data;
    const char* read_as;
    bool as_double;
    const char* message;
  };
  const Bytes text_one = {'1', 0};
  const Case cases[] = {
      {kBackupPeriod, kTypeString, text_one, kBackupPeriod, false,
       "Invalid data type for 'BackupPeriod'"},
      {kBackupPeriod, kTypeBinary, Bytes(4, 1), "backupPERIOD", false,
       "Invalid data type for 'backupPERIOD'"},
      {kBackupPeriod, kTypeDword, Bytes(5, 1), kBackupPeriod, false,
       "Failed to get data for 'BackupPeriod'"},
      {kBackupInterval, kTypeBinary, Bytes(8, 1), kBackupInterval, false,
       "Failed to get data for 'BackupInterval'"},
      {kLastBackupDate, kTypeBinary, Bytes(4, 1), kLastBackupDate, true,
       "Invalid data type for 'LastBackupDate'"},
      {kLastBackupDate, kTypeBinary, Bytes(7, 1), kLastBackupDate, true,
       "Invalid data type for 'LastBackupDate'"},
      {kLastBackupDate, kTypeDword, Bytes(4, 1), kLastBackupDate, true,
       "Invalid data type for 'LastBackupDate'"},
      {kLastBackupDate, kTypeBinary, Bytes(9, 1), kLastBackupDate, true,
       "Failed to get data for 'LastBackupDate'"},
      {kBackupTime, kTypeDword, Bytes(4, 1), kBackupTime, true,
       "Invalid data type for 'BackupTime'"},
  };
  for (const Case& c : cases) {
    this->Put(c.stored_as, c.type, c.data);
    {
      TRegistry store(this->reg_);
      this->Enter(store);
      const RegKey open = store.KeyHandle();
      EXPECT_TRUE(store.HasValue(c.read_as)) << c.message;
      EXPECT_EQ(
          FailureOf([&] { c.as_double ? store.GetDouble(c.read_as) : store.GetInt32(c.read_as); }),
          c.message);
      EXPECT_EQ(store.KeyHandle(), open) << c.message;
    }
    this->ExpectAllClosed();
  }
}

TYPED_TEST(TRegistryTest, Int32IsSignedLittleEndianAndShortDataReadsWithZeroHighBytes) {
  const std::pair<Bytes, int32_t> cases[] = {
      {{0xFB, 0xFF, 0xFF, 0xFF}, -5},
      {{0x78, 0x56, 0x34, 0x12}, 0x12345678},
      {{0, 0, 0, 0x80}, INT32_MIN},
      {{0x34, 0x12}, 0x1234},
      {{0xFF}, 255},
      {{}, 0},
  };
  TRegistry store(this->reg_);
  this->Enter(store);
  for (const auto& [data, expected] : cases) {
    this->Put(kBackupInterval, kTypeDword, data);
    EXPECT_EQ(store.GetInt32(kBackupInterval), expected) << data.size() << " bytes";
  }
}

TYPED_TEST(TRegistryTest, DoublesTravelBitForBitAsEightBinaryBytesEvenSignallingNaNs) {
  TRegistry store(this->reg_);
  this->Enter(store);
  // Read as stored: a damaged value must reach the date rules unchanged and not fail here.
  for (uint64_t bits : {0x7FF0000000000001u, 0xFFF4000000000000u}) {
    this->Put(kBackupTime, kTypeBinary, LittleEndian(bits));
    const double value = store.GetDouble(kBackupTime);
    EXPECT_EQ(Bits(value), bits);
  }
  // Written over a DWORD: the value becomes 8 little-endian binary bytes.
  this->Put(kLastBackupDate, kTypeDword, {7, 0, 0, 0});
  for (double value :
       {-0.0, std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min(),
        45292.5, -std::numeric_limits<double>::quiet_NaN()}) {
    store.PutDouble(kLastBackupDate, value);
    EXPECT_EQ(Bits(store.GetDouble(kLastBackupDate)), Bits(value));
    Bytes raw(8);
    RegType type = kTypeNone;
    uint32_t size = 8;
    ASSERT_EQ(this->reg_.QueryValue(store.KeyHandle(), kLastBackupDate, &type, raw.data(), &size),
              kStatusSuccess);
    EXPECT_EQ(type, kTypeBinary);
    EXPECT_EQ(raw, LittleEndian(Bits(value)));
  }
}

TYPED_TEST(TRegistryTest, FailedWriteNamesTheValueAndKeepsTheKey) {
  TRegistry store(this->reg_);
  this->Enter(store);
  this->backend_.BreakWrites(kScheduleBelowRoot);
  const RegKey open = store.KeyHandle();
  EXPECT_EQ(FailureOf([&] { store.PutDouble("lastBackupDate", 1.0); }),
            "Failed to set data for 'lastBackupDate'");
  EXPECT_EQ(store.KeyHandle(), open);
}

TYPED_TEST(TRegistryTest, RefusedKeyLeavesNothingOpenSoNothingIsPresentAndEveryAccessFails) {
  this->backend_.Deny(kScheduleBelowRoot);
  TRegistry store(this->reg_);
  store.SelectRootKey(this->backend_.Root());
  EXPECT_FALSE(store.EnterKey(kScheduleKeyPath, true));
  EXPECT_EQ(store.KeyHandle(), 0u);
  for (std::string name : kValues) {
    EXPECT_FALSE(store.HasValue(name));
    EXPECT_EQ(FailureOf([&] { store.GetDouble(name); }), "Failed to get data for '" + name + "'");
    EXPECT_EQ(FailureOf([&] { store.GetInt32(name); }), "Failed to get data for '" + name + "'");
  }
  EXPECT_EQ(FailureOf([&] { store.PutDouble(kLastBackupDate, 2.0); }),
            "Failed to set data for 'LastBackupDate'");
  // A key already open stays open, with its path, when entering another fails.
  ASSERT_TRUE(store.EnterKey("\\Software", false));
  const RegKey open = store.KeyHandle();
  EXPECT_FALSE(store.EnterKey("Tarvik Tools\\TarvikEmailBackup", true));
  EXPECT_FALSE(store.EnterKey("Missing", false));
  EXPECT_EQ(store.KeyHandle(), open);
  EXPECT_EQ(store.KeyPath(), "Software");
}

TYPED_TEST(TRegistryTest, EnterKeyResolvesAndRecordsRelativeAndAbsolutePaths) {
  {
    TRegistry store(this->reg_);
    store.SelectRootKey(this->backend_.Root());
    EXPECT_FALSE(store.EnterKey("\\\\Doubled", true));  // only one backslash is dropped
    ASSERT_TRUE(store.EnterKey("Outer", true));         // nothing open: below the root
    ASSERT_TRUE(store.EnterKey("Inner\\Deepest", true));
    EXPECT_EQ(store.KeyPath(), "Outer\\Inner\\Deepest");
    store.PutDouble("Here", 3.0);
    ASSERT_TRUE(store.EnterKey("\\Outer", false));
    EXPECT_EQ(store.KeyPath(), "Outer");
    EXPECT_FALSE(store.HasValue("Here"));
    EXPECT_FALSE(store.EnterKey("Deepest", false));
    ASSERT_TRUE(store.EnterKey("Inner\\Deepest", false));
    EXPECT_EQ(store.GetDouble("Here"), 3.0);
    EXPECT_EQ(this->backend_.OpenHandles().value_or(1), 1);  // each enter closed the key before
  }
  this->ExpectAllClosed();
}

TYPED_TEST(TRegistryTest, SelectingTheSameRootKeepsTheKeyAndAnotherRootClosesIt) {
  RegKey other = 0;
  ASSERT_EQ(this->reg_.CreateKey(this->backend_.Root(), "Other", &other), 0);
  {
    TRegistry store(this->reg_);
    this->Enter(store);
    const RegKey open = store.KeyHandle();
    store.SelectRootKey(this->backend_.Root());
    EXPECT_EQ(store.KeyHandle(), open);
    store.PutDouble(kLastBackupDate, 4.0);
    store.SelectRootKey(other);
    EXPECT_EQ(store.RootHandle(), other);
    EXPECT_EQ(store.KeyHandle(), 0u);
    EXPECT_EQ(store.KeyPath(), "");
    ASSERT_TRUE(store.EnterKey(kScheduleKeyPath, true));
    EXPECT_FALSE(store.HasValue(kLastBackupDate));
  }
  this->reg_.CloseKey(other);
  this->ExpectAllClosed();
}

TEST(TRegistry, StartsClosedOnTheCurrentUserWithFullAccessAndClosesEachKeyOnce) {
  FakeRegistry fake;
  {
    TRegistry store(fake);
    EXPECT_EQ(store.KeyHandle(), 0u);
    EXPECT_EQ(store.RootHandle(), kRootCurrentUser);
    EXPECT_EQ(store.AccessMask(), 0xF003Fu);
    store.LeaveKey();
    ASSERT_TRUE(store.EnterKey(kScheduleKeyPath, true));
    EXPECT_EQ(fake.OpenHandles(), 1);
    store.LeaveKey();
    store.LeaveKey();
    EXPECT_EQ(store.KeyPath(), "");
    ASSERT_TRUE(store.EnterKey("\\", true));  // an empty path is opened, never created
    EXPECT_EQ(store.KeyHandle(), kRootCurrentUser);
  }
  EXPECT_EQ(fake.OpenHandles(), 0);
  EXPECT_EQ(fake.StrayCloses(), 0);
  RegKey key = 0;
  EXPECT_EQ(fake.OpenKey(kRootCurrentUser, "software\\tarvik tools\\tarvikemailbackup", &key), 0);
}

}  // namespace
}  // namespace autobackup
