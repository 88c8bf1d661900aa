// An in-memory registry with the real one's observable behaviour, for the tests. It can refuse
// keys and writes, and counts open handles so that tests can prove every key was closed.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace autobackup {

class FakeRegistry : public Registry {
 public:
  RegStatus CreateKey(RegKey base, const std::string& path, RegKey* result) override;
  RegStatus OpenKey(RegKey base, const std::string& path, RegKey* result) override;
  RegStatus QueryValue(RegKey key, const std::string& name, RegType* type, void* data,
                       uint32_t* size) override;
  RegStatus SetValue(RegKey key, const std::string& name, RegType type, const void* data,
                     uint32_t size) override;
  RegStatus CloseKey(RegKey key) override;

  // The key at path (created if missing) can no longer be opened or created with full access,
  // as when its permissions deny the user.
  RegStatus DenyAccess(RegKey base, const std::string& path);
  // Every later write answers `status` and changes nothing; kStatusSuccess lets writes through.
  void FailWrites(RegStatus status) { write_status_ = status; }
  // Handles handed out and not yet closed.
  int OpenHandles() const { return static_cast<int>(handles_.size()); }
  // Calls of CloseKey on a key that was not open.
  int StrayCloses() const { return stray_closes_; }

 private:
  struct NameLess {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  struct Value {
    RegType type = kTypeNone;
    std::vector<uint8_t> data;
  };
  struct Key {
    std::map<std::string, Value, NameLess> values;
    std::map<std::string, std::unique_ptr<Key>, NameLess> subkeys;
    bool denied = false;
  };

  Key* Resolve(RegKey key);
  RegStatus Walk(RegKey base, const std::string& path, bool create, Key** found);
  RegKey NewHandle(Key* key);

  Key current_user_;
  std::map<RegKey, Key*> handles_;
  RegKey next_handle_ = 0x100;
  RegStatus write_status_ = kStatusSuccess;
  int stray_closes_ = 0;
};

}  // namespace autobackup
