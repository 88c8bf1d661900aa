// The separator scan shared by everything that splits a module path.
#include "platform/module_lookup.h"

namespace autobackup {

size_t FileNameStart(const std::string& path, std::string_view separators, ModuleLookup& modules) {
  size_t start = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    if (modules.IsLeadByte(static_cast<unsigned char>(path[i]))) {
      ++i;  // Its trail byte may look like a separator but is part of the character.
    } else if (separators.find(path[i]) != std::string_view::npos) {
      start = i + 1;
    }
  }
  return start;
}

}  // namespace autobackup
