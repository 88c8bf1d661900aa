// Where the program's own code lies in its executable: the code compiled to let every trapping
// instruction throw (-fnon-call-exceptions, exact unwind tables). The statically linked runtime
// libraries are not, so a fault there must not be thrown as a failure.
#pragma once

#include <cstdint>

extern "C" void autobackup_code_first();
extern "C" void autobackup_code_last();

namespace autobackup {

// The linker lays out code in the order of its inputs: code_first.cpp is the first object of
// each program, code_last.cpp the last member of the last library of the program's own
// (autobackup_strings), and the runtime libraries come after it.
inline bool InProgramCode(uintptr_t address) {
  return address >= reinterpret_cast<uintptr_t>(&autobackup_code_first) &&
         address < reinterpret_cast<uintptr_t>(&autobackup_code_last);
}

}  // namespace autobackup
