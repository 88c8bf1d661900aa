// The separator scan shared by everything that splits a module path.
#include "platform/module_lookup.h"

namespace autobackup {

size_t FileNameStart(const std::string& path, std::string_view separators) {
  const size_t last = path.find_last_of(separators);
  return last == std::string::npos ? 0 : last + 1;
}

}  // namespace autobackup
