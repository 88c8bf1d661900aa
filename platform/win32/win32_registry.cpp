// The registry interface on the real advapi32 calls; handles and codes pass through unchanged.
#include "platform/win32/win32_registry.h"

#include <windows.h>

namespace autobackup {

static_assert(kStatusSuccess == ERROR_SUCCESS && kStatusFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(kStatusAccessDenied == ERROR_ACCESS_DENIED &&
              kStatusInvalidHandle == ERROR_INVALID_HANDLE);
static_assert(kStatusInvalidParameter == ERROR_INVALID_PARAMETER &&
              kStatusBadPathname == ERROR_BAD_PATHNAME);
static_assert(kStatusMoreData == ERROR_MORE_DATA && kStatusNoAccess == ERROR_NOACCESS);
static_assert(kTypeNone == REG_NONE && kTypeString == REG_SZ && kTypeBinary == REG_BINARY &&
              kTypeDword == REG_DWORD);
static_assert(kAccessAll == KEY_ALL_ACCESS);

namespace {

HKEY ToHkey(RegKey key) {
  return reinterpret_cast<HKEY>(key);
}

}  // namespace

RegStatus Win32Registry::CreateKey(RegKey base, const std::string& path, RegKey* result) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  LONG status = RegCreateKeyExA(ToHkey(base), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, &key, &disposition);
  *result = status == ERROR_SUCCESS ? reinterpret_cast<RegKey>(key) : 0;
  return status;
}

RegStatus Win32Registry::OpenKey(RegKey base, const std::string& path, RegKey* result) {
  HKEY key = nullptr;
  LONG status = RegOpenKeyExA(ToHkey(base), path.c_str(), 0, KEY_ALL_ACCESS, &key);
  *result = status == ERROR_SUCCESS ? reinterpret_cast<RegKey>(key) : 0;
  return status;
}

RegStatus Win32Registry::QueryValue(RegKey key, const std::string& name, RegType* type, void* data,
                                    uint32_t* size) {
  // DWORD is not uint32_t's type on Windows: go through locals, copying back whatever the call
  // left in them.
  DWORD stored_type = type ? *type : 0;
  DWORD stored_size = size ? *size : 0;
  LONG status = RegQueryValueExA(ToHkey(key), name.c_str(), nullptr, type ? &stored_type : nullptr,
                                 static_cast<BYTE*>(data), size ? &stored_size : nullptr);
  if (type) {
    *type = stored_type;
  }
  if (size) {
    *size = stored_size;
  }
  return status;
}

RegStatus Win32Registry::SetValue(RegKey key, const std::string& name, RegType type,
                                  const void* data, uint32_t size) {
  return RegSetValueExA(ToHkey(key), name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
}

RegStatus Win32Registry::CloseKey(RegKey key) {
  return RegCloseKey(ToHkey(key));
}

}  // namespace autobackup
