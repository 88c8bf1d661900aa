#include "failure/call_instruction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace autobackup {
namespace {

TEST(DecodeCallBefore, TellsEachFormOfNearCallFromWhatOnlyLooksLikeOne) {
  const struct {
    std::vector<unsigned char> tail;  // the last bytes before the return address
    bool indirect, direct;
  } cases[] = {
      {{0xFF, 0xD0}, true, false},                    // call eax
      {{0xFF, 0x10}, true, false},                    // call [eax]
      {{0xFF, 0x50, 0x08}, true, false},              // call [eax+8]
      {{0xFF, 0x14, 0x24}, true, false},              // call [esp]
      {{0xFF, 0x54, 0x24, 0x04}, true, false},        // call [esp+4]
      {{0xFF, 0x90, 1, 2, 3, 4}, true, false},        // call [eax+disp32]
      {{0xFF, 0x15, 1, 2, 3, 4}, true, false},        // call [disp32] (rip on x64)
      {{0xFF, 0x14, 0x25, 1, 2, 3, 4}, true, false},  // call [disp32+index]
      {{0xFF, 0x94, 0x24, 1, 2, 3, 4}, true, false},  // call [esp+disp32]
      {{0xE8, 0xFB, 0xFF, 0xFF, 0xFF}, false, true},  // call -5
      {{0xFF, 0xE0}, false, false},                   // jmp eax: /4, not /2
      {{0xFF, 0x50}, false, false},                   // call [eax+8] cut short
      {{0xFF, 0x14, 0x25, 1, 2, 3}, false, false},    // SIB form one byte short
      {{0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90}, false, false},
  };
  for (const auto& c : cases) {
    unsigned char before[kLongestCall];
    std::fill(before, before + kLongestCall, 0x90);
    std::copy(c.tail.begin(), c.tail.end(), before + kLongestCall - c.tail.size());
    const TCallBefore call = DecodeCallBefore(before);
    SCOPED_TRACE(testing::PrintToString(c.tail));
    EXPECT_EQ(call.indirect, c.indirect);
    EXPECT_EQ(call.direct, c.direct);
    EXPECT_EQ(call.displacement, c.direct ? -5 : 0);
  }
}

}  // namespace
}  // namespace autobackup
