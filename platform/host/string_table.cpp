// Host build: the string table's texts straight from the shared list.
#include "platform/string_table.h"

namespace autobackup {

std::string LoadText(StringId id) {
  switch (id) {
#define AUTOBACKUP_STRING(name, id, text) \
  case StringId::name:                    \
    return text;
#include "failure/strings.def"
#undef AUTOBACKUP_STRING
  }
  return {};
}

}  // namespace autobackup
