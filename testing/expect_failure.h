// Test helper: a call that must raise a failure of a given type with a given message.
#pragma once

#include <gtest/gtest.h>

namespace autobackup {

template <class Failure, class Call>
void ExpectFailure(Call call, const char* message) {
  try {
    call();
    ADD_FAILURE() << "expected " << message;
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.Message(), message);
  }
}

}  // namespace autobackup
