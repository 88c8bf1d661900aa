// What the schedule store and its tests rely on from the registry, held against the fake and,
// under Wine, against the real registry: the two must answer alike.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "testing/registry_test_backends.h"

namespace autobackup {
namespace {

using Bytes = std::vector<uint8_t>;

template <class Backend>
class RegistryContract : public ::testing::Test {
 protected:
  RegKey Create(const std::string& path) {
    RegKey key = 0;
    EXPECT_EQ(reg_.CreateKey(backend_.Root(), path, &key), kStatusSuccess) << path;
    return key;
  }
  // Opens and closes again; a failed open must leave no handle.
  RegStatus Open(const std::string& path) {
    RegKey key = 1;
    RegStatus status = reg_.OpenKey(backend_.Root(), path, &key);
    EXPECT_EQ(key != 0, status == kStatusSuccess) << path;
    if (key != 0) {
      reg_.CloseKey(key);
    }
    return status;
  }
  void Set(RegKey key, const char* name, RegType type, const Bytes& data) {
    EXPECT_EQ(reg_.SetValue(key, name, type, data.data(), static_cast<uint32_t>(data.size())), 0);
  }

  Backend backend_;
  Registry& reg_ = backend_.registry;
};
TYPED_TEST_SUITE(RegistryContract, RegistryBackends, BackendName);

TYPED_TEST(RegistryContract, CreateMakesTheKeysAboveAndPathsIgnoreCaseButNotALeadingBackslash) {
  EXPECT_EQ(this->Open("Outer\\Inner"), kStatusFileNotFound);
  this->reg_.CloseKey(this->Create("Outer\\Middle\\Inner"));
  for (const char* path : {"Outer", "outer\\MIDDLE", "Outer\\Middle\\Inner\\"}) {
    EXPECT_EQ(this->Open(path), kStatusSuccess) << path;
  }
  EXPECT_EQ(this->Open("Outer\\Middle\\Inner\\Deeper"), kStatusFileNotFound);
  EXPECT_EQ(this->Open("\\Outer"), kStatusBadPathname);
  RegKey key = 1;
  EXPECT_EQ(this->reg_.CreateKey(this->backend_.Root(), "\\New", &key), kStatusBadPathname);
  EXPECT_EQ(key, 0u);
  // The predefined root itself: an empty path gives it back, and closing it changes nothing.
  ASSERT_EQ(this->reg_.OpenKey(kRootCurrentUser, "", &key), kStatusSuccess);
  EXPECT_EQ(key, kRootCurrentUser);
  EXPECT_EQ(this->reg_.CloseKey(kRootCurrentUser), kStatusSuccess);
  EXPECT_EQ(this->reg_.OpenKey(kRootCurrentUser, "", &key), kStatusSuccess);
}

TYPED_TEST(RegistryContract, QueryReportsTypeAndSizeAndCopiesOnlyWhatFits) {
  RegKey key = this->Create("Values");
  this->Set(key, "Nine", kTypeBinary, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  this->Set(key, "Short", kTypeDword, {1, 2});
  this->Set(key, "Empty", kTypeBinary, {});
  struct Case {
    const char* name;
    bool with_buffer;
    uint32_t capacity;
    RegStatus status;
    uint32_t size;
    RegType type;
    int written;
  };
  // Without a buffer only type and size come back; too small a buffer is left as it was.
  for (const Case& c : {Case{"nINE", false, 0, kStatusSuccess, 9, kTypeBinary, 0},
                        Case{"Nine", true, 8, kStatusMoreData, 9, kTypeBinary, 0},
                        Case{"Nine", true, 0, kStatusMoreData, 9, kTypeBinary, 0},
                        Case{"Nine", true, 12, kStatusSuccess, 9, kTypeBinary, 9},
                        Case{"Short", true, 4, kStatusSuccess, 2, kTypeDword, 2},
                        Case{"Empty", true, 4, kStatusSuccess, 0, kTypeBinary, 0}}) {
    Bytes buffer(12, 0xAA);
    RegType type = kTypeNone;
    uint32_t size = c.capacity;
    EXPECT_EQ(
        this->reg_.QueryValue(key, c.name, &type, c.with_buffer ? buffer.data() : nullptr, &size),
        c.status);
    EXPECT_EQ(size, c.size);
    EXPECT_EQ(type, c.type);
    for (int i = 0; i < 12; ++i) {
      EXPECT_EQ(buffer[i], i < c.written ? i + 1 : 0xAA) << c.name << c.capacity << " byte " << i;
    }
  }
  EXPECT_EQ(this->reg_.QueryValue(key, "Nine", nullptr, nullptr, nullptr), kStatusSuccess);
  uint8_t buffer[12];
  uint32_t size = 12;
  EXPECT_EQ(this->reg_.QueryValue(key, "Nine", nullptr, buffer, nullptr), kStatusInvalidParameter);
  EXPECT_EQ(this->reg_.QueryValue(key, "Ten", nullptr, buffer, &size), kStatusFileNotFound);
  EXPECT_EQ(this->reg_.QueryValue(key, "Ten", nullptr, nullptr, &size), kStatusFileNotFound);
  this->reg_.CloseKey(key);
}

TYPED_TEST(RegistryContract, SetReplacesTypeAndSizeAndEveryHandleToTheKeySeesIt) {
  RegKey writer = this->Create("Shared");
  RegKey reader = 0;
  ASSERT_EQ(this->reg_.OpenKey(this->backend_.Root(), "shared", &reader), kStatusSuccess);
  EXPECT_NE(reader, writer);
  this->Set(writer, "Value", kTypeDword, {1, 0, 0, 0});
  this->Set(writer, "VALUE", kTypeBinary, {9, 8, 7, 6, 5, 4, 3, 2});
  EXPECT_EQ(this->reg_.CloseKey(writer), kStatusSuccess);
  Bytes buffer(8);
  RegType type = kTypeNone;
  uint32_t size = 8;
  ASSERT_EQ(this->reg_.QueryValue(reader, "value", &type, buffer.data(), &size), kStatusSuccess);
  EXPECT_EQ(type, kTypeBinary);
  EXPECT_EQ(buffer, (Bytes{9, 8, 7, 6, 5, 4, 3, 2}));
  this->reg_.CloseKey(reader);
}

TYPED_TEST(RegistryContract, SetWithASizeButNoDataIsRefusedAndChangesNothing) {
  // Where the 32-bit Wine loader runs through qemu-user, the emulator turns the bad pointer into
  // a short write to the wineserver, which ends the process: the native runs check it.
  const char* emulation = std::getenv("AUTOBACKUP_EMULATION");
  if (TypeParam::kReal && emulation != nullptr) {
    GTEST_SKIP() << emulation << ", where a bad pointer handed to the system ends the process";
  }
  RegKey key = this->Create("Shared");
  this->Set(key, "Value", kTypeDword, {1, 0, 0, 0});
  EXPECT_EQ(this->reg_.SetValue(key, "Value", kTypeBinary, nullptr, 8), kStatusNoAccess);
  Bytes buffer(8);
  RegType type = kTypeNone;
  uint32_t size = 8;
  ASSERT_EQ(this->reg_.QueryValue(key, "Value", &type, buffer.data(), &size), kStatusSuccess);
  EXPECT_EQ(type, kTypeDword);
  EXPECT_EQ(size, 4u);
  this->reg_.CloseKey(key);
}

TYPED_TEST(RegistryContract, NullAndClosedHandlesFailEveryCall) {
  RegKey closed = this->Create("Gone");
  ASSERT_EQ(this->reg_.CloseKey(closed), kStatusSuccess);
  const uint8_t data[8] = {};
  uint32_t size = 8;
  for (RegKey key : {RegKey{0}, closed}) {
    RegKey result = 1;
    EXPECT_EQ(this->reg_.OpenKey(key, "Below", &result), kStatusInvalidHandle);
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(this->reg_.CreateKey(key, "Below", &result), kStatusInvalidHandle);
    EXPECT_EQ(this->reg_.QueryValue(key, "V", nullptr, nullptr, &size), kStatusInvalidHandle);
    EXPECT_EQ(this->reg_.SetValue(key, "V", kTypeBinary, data, 8), kStatusInvalidHandle);
    EXPECT_EQ(this->reg_.CloseKey(key), kStatusInvalidHandle);
  }
}

TYPED_TEST(RegistryContract, DeniedKeyRefusesOpenAndCreateButNotItsNeighbours) {
  this->backend_.Deny("Locked");
  this->reg_.CloseKey(this->Create("Free"));
  RegKey key = 1;
  EXPECT_EQ(this->reg_.CreateKey(this->backend_.Root(), "Locked", &key), kStatusAccessDenied);
  EXPECT_EQ(key, 0u);
  EXPECT_EQ(this->Open("Locked"), kStatusAccessDenied);
  EXPECT_EQ(this->Open("Free"), kStatusSuccess);
}

}  // namespace
}  // namespace autobackup
