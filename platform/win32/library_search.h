// Where the libraries the program loads may come from.
#pragma once

namespace autobackup {

// Libraries the program loads (those a message box needs, say) come from the system folder only,
// never from the exe's. Where the system cannot restrict that (an unpatched Vista), nothing
// changes.
void RestrictLibrarySearch();

}  // namespace autobackup
