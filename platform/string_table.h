// The program's string table. Windows builds read the compiled resource; the host build
// reads the same list compiled in.
#pragma once

#include <string>

#include "failure/string_ids.h"

namespace autobackup {

std::string LoadText(StringId id);

}  // namespace autobackup
