// How the box tool prints a box's text on one output line with every byte still visible.
#pragma once

#include <string>

namespace autobackup {

// `text` with CR, LF, tab and the backslash written as \r, \n, \t and \\, and every other byte
// outside printable ASCII as \xNN (lower-case digits); everything else unchanged.
std::string EscapedText(const std::string& text);

}  // namespace autobackup
