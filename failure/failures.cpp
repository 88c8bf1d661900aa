#include "failure/failures.h"

namespace autobackup {

std::string FormatText(const std::string& pattern, const std::string& argument) {
  std::string text;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's') {
      text += argument;
      ++i;
    } else {
      text += pattern[i];
    }
  }
  return text;
}

}  // namespace autobackup
