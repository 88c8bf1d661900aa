// The current user's registry through advapi32.
#pragma once

#include "platform/registry.h"

namespace autobackup {

class Win32Registry : public Registry {
 public:
  RegStatus CreateKey(RegKey base, const std::string& path, RegKey* result) override;
  RegStatus OpenKey(RegKey base, const std::string& path, RegKey* result) override;
  RegStatus QueryValue(RegKey key, const std::string& name, RegType* type, void* data,
                       uint32_t* size) override;
  RegStatus SetValue(RegKey key, const std::string& name, RegType type, const void* data,
                     uint32_t size) override;
  RegStatus CloseKey(RegKey key) override;
};

}  // namespace autobackup
