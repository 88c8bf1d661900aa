#include "failure/call_instruction.h"

#include <cstring>

namespace autobackup {

TCallBefore DecodeCallBefore(const unsigned char (&before)[kLongestCall]) {
  const unsigned char* end = before + kLongestCall;
  TCallBefore call{false, false, 0};
  if (end[-5] == 0xE8) {
    call.direct = true;
    std::memcpy(&call.displacement, end - 4, sizeof call.displacement);
  }
  // An indirect call is two to seven bytes long: the form its ModRM (and SIB) byte names must
  // end exactly at the return address.
  for (int length = 2; length <= kLongestCall && !call.indirect; ++length) {
    const unsigned char* at = end - length;
    const unsigned modrm = at[1];
    const unsigned mod = modrm >> 6;
    const unsigned rm = modrm & 7;
    if (at[0] != 0xFF || ((modrm >> 3) & 7) != 2) {
      continue;
    }
    int expected = 2;
    if (mod != 3 && rm == 4) {
      expected += 1;  // SIB (beyond a two-byte form, which then cannot match)
      if (mod == 0 && length > 2 && (at[2] & 7) == 5) {
        expected += 4;
      }
    }
    if (mod == 1) {
      expected += 1;
    } else if (mod == 2 || (mod == 0 && rm == 5)) {
      expected += 4;
    }
    call.indirect = expected == length;
  }
  return call;
}

}  // namespace autobackup
