// Marks the end of the program's own code: linked after every other object of the program's.
#include "platform/win32/program_code.h"

extern "C" __attribute__((noinline, used)) void autobackup_code_last() {}
