// Test runner shared by every test program, on the host and under Wine.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <exception>

#include "calendar/extended.h"
#include "failure/failures.h"

namespace {

// GoogleTest describes an object that escapes a test only when it is a std::exception, and the
// failure types are not. It reports the escape from inside its catch-all handler, where the
// object is still the current exception: this listener adds the failure's type and message.
class EscapedFailurePrinter : public testing::EmptyTestEventListener {
  void OnTestPartResult(const testing::TestPartResult& result) override {
    const std::exception_ptr escaped = std::current_exception();
    if (!escaped || std::strstr(result.message(), "Unknown C++ exception") == nullptr) {
      return;
    }
    try {
      std::rethrow_exception(escaped);
    } catch (const autobackup::Exception& failure) {
      std::printf("The exception was %s: %s\n", failure.TypeName(), failure.Message().c_str());
    } catch (const autobackup::TObject& object) {
      std::printf("The exception was %s\n", object.TypeName());
    } catch (...) {
    }
    std::fflush(stdout);
  }
};

}  // namespace

int main(int argc, char** argv) {
  // The same floating-point environment as the program's.
  autobackup::LoadDefaultFpuControlWord();
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new EscapedFailurePrinter);
  return RUN_ALL_TESTS();
}
