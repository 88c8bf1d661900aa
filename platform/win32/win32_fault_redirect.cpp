#include "platform/win32/win32_fault_redirect.h"

#include <cstring>

#include "failure/call_instruction.h"
#include "platform/win32/program_code.h"

namespace autobackup {

#if defined(__x86_64__)
// The faulting code's stack need not be aligned as at a call: this frame realigns it before
// calling into C++, and its frame pointer gives the unwinder the way back whatever it was.
asm(R"(
	.text
	.p2align 4
	.globl autobackup_fault_trampoline
	.def autobackup_fault_trampoline; .scl 2; .type 32; .endef
	.seh_proc autobackup_fault_trampoline
autobackup_fault_trampoline:
	pushq %rbp
	.seh_pushreg %rbp
	movq %rsp, %rbp
	.seh_setframe %rbp, 0
	.seh_endprologue
	andq $-16, %rsp
	subq $32, %rsp
	call autobackup_throw_recorded_fault
	ud2
	.seh_endproc
)");
extern "C" void autobackup_fault_trampoline();
#endif

namespace {

// Whether the instruction that ends just before `after` is a call: an indirect near call, or a
// direct one into the program's code, the jump through a null pointer being the callee's tail
// call. Its bytes lie in the program's own code, so they can be read.
bool FollowsCall(uintptr_t after) {
  if (!InProgramCode(after - kLongestCall) || !InProgramCode(after - 1)) {
    return false;
  }
  unsigned char before[kLongestCall];
  std::memcpy(before, reinterpret_cast<const unsigned char*>(after) - kLongestCall, kLongestCall);
  const TCallBefore call = DecodeCallBefore(before);
  return call.indirect ||
         (call.direct && InProgramCode(after + static_cast<intptr_t>(call.displacement)));
}

}  // namespace

bool RedirectToThrow(CONTEXT& context, uintptr_t address) {
#if defined(__x86_64__)
  DWORD64& stack = context.Rsp;
  DWORD64& next = context.Rip;
  const auto thrower = reinterpret_cast<uintptr_t>(&autobackup_fault_trampoline);
#else
  DWORD& stack = context.Esp;
  DWORD& next = context.Eip;
  // The 32-bit build realigns the stack in every function that needs it.
  const auto thrower = reinterpret_cast<uintptr_t>(&autobackup_throw_recorded_fault);
#endif
  if (address == 0) {
    // A call through a null pointer has pushed its return address (a jump through one leaves the
    // caller's); a return into a zeroed slot faults here too, and then the word on the stack is
    // no return address at all.
    if (!FollowsCall(*reinterpret_cast<const uintptr_t*>(stack))) {
      return false;
    }
  } else {
    if (!InProgramCode(address)) {
      return false;
    }
    // The unwinder looks up the instruction before a return address: here the faulting one.
    stack -= sizeof(uintptr_t);
    *reinterpret_cast<uintptr_t*>(stack) = address + 1;
  }
  next = thrower;
  return true;
}

}  // namespace autobackup
