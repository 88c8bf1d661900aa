// The runner's own check (testing/check_runner.cmake runs it): one failing and one skipped check,
// each of which must be reported with its test's name while the program goes on to its end.
#include <gtest/gtest.h>

TEST(Runner, ReportsAFailure) {
  EXPECT_EQ(1, 2) << "the failure meant to be reported";
}

TEST(Runner, ReportsASkip) {
  GTEST_SKIP() << "the skip meant to be reported";
}
