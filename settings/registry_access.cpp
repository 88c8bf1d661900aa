// TRegistry on the registry back end it was given.
#include "settings/registry_access.h"

#include <cstring>

namespace autobackup {

namespace {

// The number stored in `bytes`, least significant byte first, as the registry keeps it.
uint64_t LittleEndian(const uint8_t* bytes, size_t count) {
  uint64_t value = 0;
  for (size_t i = count; i-- > 0;) {
    value = value << 8 | bytes[i];
  }
  return value;
}

}  // namespace

TRegistry::TRegistry(Registry& registry) : registry_(registry) {}

TRegistry::~TRegistry() {
  LeaveKey();
}

void TRegistry::SelectRootKey(RegKey root) {
  if (root == root_handle_) {
    return;
  }
  LeaveKey();
  root_handle_ = root;
}

bool TRegistry::EnterKey(const std::string& path, bool allowCreate) {
  std::string relative = path;
  const bool absolute = !relative.empty() && relative[0] == '\\';
  if (absolute) {
    relative.erase(0, 1);
  }
  const bool below_open_key = !absolute && key_handle_ != 0;
  const RegKey base = below_open_key ? key_handle_ : root_handle_;
  RegKey opened = 0;
  const RegStatus status = allowCreate && !relative.empty()
                               ? registry_.CreateKey(base, relative, &opened)
                               : registry_.OpenKey(base, relative, &opened);
  if (status != kStatusSuccess) {
    return false;
  }
  std::string recorded = below_open_key ? key_path_ + "\\" + relative : relative;
  LeaveKey();
  key_handle_ = opened;
  key_path_ = std::move(recorded);
  return true;
}

bool TRegistry::HasValue(const std::string& name) {
  RegType type = kTypeNone;
  uint32_t size = 0;
  return registry_.QueryValue(key_handle_, name, &type, nullptr, &size) == kStatusSuccess;
}

TRegistry::TFetched TRegistry::FetchValue(const std::string& name, uint8_t* buffer,
                                          uint32_t capacity) {
  TFetched fetched{kTypeNone, capacity};
  // Data longer than the buffer fails here, before its type is looked at.
  if (registry_.QueryValue(key_handle_, name, &fetched.type, buffer, &fetched.size) !=
      kStatusSuccess) {
    Raise<ERegistryException>(StringId::RegGetDataFailed, name);
  }
  return fetched;
}

int32_t TRegistry::GetInt32(const std::string& name) {
  // Zeroed first: a DWORD stored with fewer than 4 bytes reads with the missing high bytes 0.
  uint8_t bytes[4] = {};
  if (FetchValue(name, bytes, sizeof bytes).type != kTypeDword) {
    Raise<ERegistryException>(StringId::RegInvalidDataType, name);
  }
  return static_cast<int32_t>(static_cast<uint32_t>(LittleEndian(bytes, sizeof bytes)));
}

uint64_t TRegistry::FetchDoubleBits(const std::string& name) {
  uint8_t bytes[8] = {};
  const TFetched fetched = FetchValue(name, bytes, sizeof bytes);
  if (fetched.type != kTypeBinary || fetched.size != sizeof bytes) {
    Raise<ERegistryException>(StringId::RegInvalidDataType, name);
  }
  // Kept as bits, never computed with: a damaged date must reach the date rules unchanged.
  return LittleEndian(bytes, sizeof bytes);
}

void TRegistry::PutDouble(const std::string& name, double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  uint8_t bytes[8];
  for (uint8_t& byte : bytes) {
    byte = static_cast<uint8_t>(bits);
    bits >>= 8;
  }
  if (registry_.SetValue(key_handle_, name, kTypeBinary, bytes, sizeof bytes) != kStatusSuccess) {
    Raise<ERegistryException>(StringId::RegSetDataFailed, name);
  }
}

void TRegistry::LeaveKey() {
  if (key_handle_ == 0) {
    return;
  }
  registry_.CloseKey(key_handle_);  // nothing useful to do if closing fails
  key_handle_ = 0;
  key_path_.clear();
}

}  // namespace autobackup
