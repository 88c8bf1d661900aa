// TRegistry: one open key below a root key, with reads of 32-bit integers and 8-byte doubles
// that enforce the stored type, and the write of a double. Failures raise ERegistryException.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "failure/failures.h"
#include "platform/registry.h"

namespace autobackup {

class TRegistry : public TObject {
 public:
  // Makes no registry call; the back end must outlive the object.
  explicit TRegistry(Registry& registry);
  ~TRegistry() override;
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  const char* TypeName() const override { return "TRegistry"; }

  // A different root closes the open key; the same root changes nothing.
  void SelectRootKey(RegKey root);
  // Opens (or, when allowed, creates) the key; a path starting with a backslash is taken below
  // the root, any other below the open key if there is one. On failure nothing changes.
  bool EnterKey(const std::string& path, bool allowCreate);
  // Whether the open key holds a value of that name, of any type or size.
  bool HasValue(const std::string& name);
  // The value's 8 bytes as they are, whatever double they encode. Always inlined: 32-bit x86
  // returns a double on the x87 stack, and loading it there quiets a signalling NaN (or raises,
  // under the program's control word), so only the bits cross a call.
  __attribute__((always_inline)) double GetDouble(const std::string& name) {
    const uint64_t bits = FetchDoubleBits(name);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  int32_t GetInt32(const std::string& name);
  // Stores the 8 bytes of value as a binary value, replacing whatever had that name.
  void PutDouble(const std::string& name, double value);
  void LeaveKey();

  RegKey KeyHandle() const { return key_handle_; }
  RegKey RootHandle() const { return root_handle_; }
  const std::string& KeyPath() const { return key_path_; }
  uint32_t AccessMask() const { return access_mask_; }

 private:
  struct TFetched {
    RegType type;
    uint32_t size;
  };
  TFetched FetchValue(const std::string& name, uint8_t* buffer, uint32_t capacity);
  uint64_t FetchDoubleBits(const std::string& name);

  Registry& registry_;
  RegKey key_handle_ = 0;
  RegKey root_handle_ = kRootCurrentUser;
  std::string key_path_;
  // Every open and create of the back end asks for exactly this.
  uint32_t access_mask_ = kAccessAll;
};

}  // namespace autobackup
