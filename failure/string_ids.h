// Identifiers of the string table's texts.
#pragma once

#include <cstdint>

namespace autobackup {

enum class StringId : uint16_t {
#define AUTOBACKUP_STRING(name, id, text) name = id,
#include "failure/strings.def"
#undef AUTOBACKUP_STRING
};

}  // namespace autobackup
