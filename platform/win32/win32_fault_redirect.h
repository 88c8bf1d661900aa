// A fault in the program's own code goes on as a throw from the faulting instruction.
#pragma once

#include <windows.h>

#include <cstdint>

// Where a redirected fault resumes, as though the faulting instruction had called it: throws the
// recorded fault's failure (win32_fault_filter.cpp).
extern "C" [[noreturn]] void autobackup_throw_recorded_fault();

namespace autobackup {

// Makes the faulting thread go on in the thrower as though the faulting instruction at `address`
// had called it. Only the program's own code is built for that (every instruction that can trap
// can throw, with exact unwind tables); false elsewhere, and the fault is to be reported where
// it happened.
bool RedirectToThrow(CONTEXT& context, uintptr_t address);

}  // namespace autobackup
