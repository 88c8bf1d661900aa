// Reading x86 machine code backwards from a return address: whether the instruction that ends
// there is a near call, which tells a call through a null pointer (it pushed its return address)
// from a jump or a return into a zeroed slot (the word on the stack is no return address).
#pragma once

#include <cstdint>

namespace autobackup {

// The longest near call: FF, ModRM, SIB and a 32-bit displacement.
constexpr int kLongestCall = 7;

// What the kLongestCall bytes that end at a return address say of the instruction before it.
struct TCallBefore {
  bool indirect;         // FF /2 in any of its addressing forms
  bool direct;           // E8 with a 32-bit displacement
  int32_t displacement;  // of the direct call, from the return address to its target
};

// `before` holds the kLongestCall bytes just below the return address, the last one nearest.
TCallBefore DecodeCallBefore(const unsigned char (&before)[kLongestCall]);

}  // namespace autobackup
