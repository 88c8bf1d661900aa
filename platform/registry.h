// The registry as the schedule store needs it: the Win32 calls' semantics and status codes,
// under names of our own so that this header never meets <windows.h>'s macros.
#pragma once

#include <cstdint>
#include <string>

namespace autobackup {

// An open key, or one of the predefined roots. 0 is no key.
using RegKey = uintptr_t;

// HKEY_CURRENT_USER: the Win32 value, sign-extended as on a 64-bit build.
constexpr RegKey kRootCurrentUser =
    static_cast<RegKey>(static_cast<intptr_t>(INT32_C(-2147483647)));

// Status codes: the Win32 error numbers.
using RegStatus = int32_t;
constexpr RegStatus kStatusSuccess = 0;
constexpr RegStatus kStatusFileNotFound = 2;
constexpr RegStatus kStatusAccessDenied = 5;
constexpr RegStatus kStatusInvalidHandle = 6;
constexpr RegStatus kStatusInvalidParameter = 87;
constexpr RegStatus kStatusBadPathname = 161;
constexpr RegStatus kStatusMoreData = 234;
constexpr RegStatus kStatusNoAccess = 998;

// Value types.
using RegType = uint32_t;
constexpr RegType kTypeNone = 0;
constexpr RegType kTypeString = 1;
constexpr RegType kTypeBinary = 3;
constexpr RegType kTypeDword = 4;

// KEY_ALL_ACCESS: every open and create asks for it.
constexpr uint32_t kAccessAll = 0xF003F;

// Paths are backslash-separated and relative to `base`; a leading backslash is a bad path name.
// Key and value names compare without regard to ASCII case. Any call on a key that is not open
// (0, or already closed) answers kStatusInvalidHandle.
class Registry {
 public:
  virtual ~Registry() = default;
  // Opens the key with full access, creating it (to last) and any missing key above it. *result
  // is 0 on failure.
  virtual RegStatus CreateKey(RegKey base, const std::string& path, RegKey* result) = 0;
  // Opens an existing key with full access. An empty path below a predefined root gives back the
  // root itself. *result is 0 on failure.
  virtual RegStatus OpenKey(RegKey base, const std::string& path, RegKey* result) = 0;
  // Reads a value's type and data. `type` may be null. `data` may be null: then only type and size
  // are reported. On the way in *size is the buffer's size; on the way out it is the stored data's
  // size. Data longer than the buffer gives kStatusMoreData and leaves the buffer untouched;
  // shorter data fills only its own length.
  virtual RegStatus QueryValue(RegKey key, const std::string& name, RegType* type, void* data,
                               uint32_t* size) = 0;
  // Creates the value or replaces it, its type and size included.
  virtual RegStatus SetValue(RegKey key, const std::string& name, RegType type, const void* data,
                             uint32_t size) = 0;
  // Closes the key. Closing a predefined root succeeds and leaves it usable.
  virtual RegStatus CloseKey(RegKey key) = 0;
};

}  // namespace autobackup
