// The fake registry: a tree of keys holding typed byte strings, reached through numbered handles.
#include "testing/fake/fake_registry.h"

#include <algorithm>
#include <cstring>

namespace autobackup {

namespace {

char Fold(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

bool FakeRegistry::NameLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return Fold(x) < Fold(y); });
}

FakeRegistry::Key* FakeRegistry::Resolve(RegKey key) {
  if (key == kRootCurrentUser) {
    return &current_user_;
  }
  auto it = handles_.find(key);
  return it == handles_.end() ? nullptr : it->second;
}

// Finds the key at path below base, creating missing keys when asked. Empty components (a
// trailing or doubled backslash) are skipped, as the real registry does.
RegStatus FakeRegistry::Walk(RegKey base, const std::string& path, bool create, Key** found) {
  Key* key = Resolve(base);
  if (!key) {
    return kStatusInvalidHandle;
  }
  if (!path.empty() && path[0] == '\\') {
    return kStatusBadPathname;
  }
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = std::min(path.find('\\', start), path.size());
    std::string name = path.substr(start, end - start);
    start = end + 1;
    if (name.empty()) {
      continue;
    }
    auto it = key->subkeys.find(name);
    if (it == key->subkeys.end()) {
      if (!create) {
        return kStatusFileNotFound;
      }
      it = key->subkeys.emplace(name, std::make_unique<Key>()).first;
    }
    key = it->second.get();
  }
  *found = key;
  return kStatusSuccess;
}

RegKey FakeRegistry::NewHandle(Key* key) {
  RegKey handle = next_handle_;
  next_handle_ += 4;  // never reused, so a stale handle stays invalid
  handles_[handle] = key;
  return handle;
}

RegStatus FakeRegistry::CreateKey(RegKey base, const std::string& path, RegKey* result) {
  *result = 0;
  Key* key = nullptr;
  RegStatus status = Walk(base, path, true, &key);
  if (status != kStatusSuccess) {
    return status;
  }
  if (key->denied) {
    return kStatusAccessDenied;
  }
  *result = NewHandle(key);
  return kStatusSuccess;
}

RegStatus FakeRegistry::OpenKey(RegKey base, const std::string& path, RegKey* result) {
  *result = 0;
  Key* key = nullptr;
  RegStatus status = Walk(base, path, false, &key);
  if (status != kStatusSuccess) {
    return status;
  }
  if (key->denied) {
    return kStatusAccessDenied;
  }
  *result = path.empty() && base == kRootCurrentUser ? base : NewHandle(key);
  return kStatusSuccess;
}

RegStatus FakeRegistry::QueryValue(RegKey key, const std::string& name, RegType* type, void* data,
                                   uint32_t* size) {
  Key* open = Resolve(key);
  if (!open) {
    return kStatusInvalidHandle;
  }
  if (data && !size) {
    return kStatusInvalidParameter;
  }
  auto it = open->values.find(name);
  if (it == open->values.end()) {
    return kStatusFileNotFound;
  }
  const Value& value = it->second;
  const uint32_t stored = static_cast<uint32_t>(value.data.size());
  if (type) {
    *type = value.type;
  }
  RegStatus status = kStatusSuccess;
  if (data && stored > *size) {
    status = kStatusMoreData;
  } else if (data && stored > 0) {
    std::memcpy(data, value.data.data(), stored);
  }
  if (size) {
    *size = stored;
  }
  return status;
}

RegStatus FakeRegistry::SetValue(RegKey key, const std::string& name, RegType type,
                                 const void* data, uint32_t size) {
  Key* open = Resolve(key);
  if (!open) {
    return kStatusInvalidHandle;
  }
  if (write_status_ != kStatusSuccess) {
    return write_status_;
  }
  if (!data && size > 0) {
    return kStatusNoAccess;
  }
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  Value& value = open->values[name];
  value.type = type;
  value.data.assign(bytes, bytes + size);
  return kStatusSuccess;
}

RegStatus FakeRegistry::CloseKey(RegKey key) {
  if (key == kRootCurrentUser) {
    return kStatusSuccess;
  }
  if (handles_.erase(key) == 0) {
    ++stray_closes_;
    return kStatusInvalidHandle;
  }
  return kStatusSuccess;
}

RegStatus FakeRegistry::DenyAccess(RegKey base, const std::string& path) {
  Key* key = nullptr;
  RegStatus status = Walk(base, path, true, &key);
  if (status == kStatusSuccess) {
    key->denied = true;
  }
  return status;
}

}  // namespace autobackup
