// Marks the start of the program's own code: the first object linked into each program.
#include "platform/win32/program_code.h"

extern "C" __attribute__((noinline, used)) void autobackup_code_first() {}
