// Test runner shared by every test program, on the host and under Wine.
#include <gtest/gtest.h>

#include "calendar/extended.h"

int main(int argc, char** argv) {
  // The same floating-point environment as the program's.
  autobackup::LoadDefaultFpuControlWord();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
