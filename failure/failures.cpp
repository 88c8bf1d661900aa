#include "failure/failures.h"

namespace autobackup {

std::string FillPattern(const std::string& pattern, std::initializer_list<std::string> arguments) {
  std::string text;
  auto next = arguments.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    char kind = i + 1 < pattern.size() && pattern[i] == '%' ? pattern[i + 1] : '\0';
    if (kind == 's' || kind == 'p' || kind == 'x') {
      if (next != arguments.end()) {
        text += *next++;
      }
      ++i;
    } else if (kind == '%') {
      text += '%';
      ++i;
    } else {
      text += pattern[i];
    }
  }
  return text;
}

}  // namespace autobackup
