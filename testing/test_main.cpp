// Test runner shared by every test program, on the host and under Wine.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

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

// GoogleTest's own printer, except that a failed or skipped check is printed here: on Windows
// that printer also hands each one to OutputDebugStringA, whose exception Wine dispatches and
// unwinds, and where the 32-bit Wine loader runs through qemu-user that unwinding ends the
// process ("stack smashing detected"). Everything else is the default printer's.
class PrinterWithoutDebugOutput : public testing::TestEventListener {
 public:
  explicit PrinterWithoutDebugOutput(testing::TestEventListener* printer) : printer_(printer) {}

  void OnTestPartResult(const testing::TestPartResult& result) override {
    if (result.type() == testing::TestPartResult::kSuccess) {
      return;
    }
    std::printf(
        "%s %s\n%s\n",
        testing::internal::FormatFileLocation(result.file_name(), result.line_number()).c_str(),
        result.skipped() ? "Skipped" : "Failure", result.message());
    // The test command's summary lists every skip with its reason.
    if (result.skipped()) {
      std::printf("skipped: %s: %s\n", test_.c_str(), result.message());
    }
    std::fflush(stdout);
  }

  void OnTestProgramStart(const testing::UnitTest& u) override { printer_->OnTestProgramStart(u); }
  void OnTestIterationStart(const testing::UnitTest& u, int i) override {
    printer_->OnTestIterationStart(u, i);
  }
  void OnEnvironmentsSetUpStart(const testing::UnitTest& u) override {
    printer_->OnEnvironmentsSetUpStart(u);
  }
  void OnEnvironmentsSetUpEnd(const testing::UnitTest& u) override {
    printer_->OnEnvironmentsSetUpEnd(u);
  }
  void OnTestSuiteStart(const testing::TestSuite& s) override { printer_->OnTestSuiteStart(s); }
  void OnTestCaseStart(const testing::TestCase& s) override { printer_->OnTestCaseStart(s); }
  // GoogleTest holds its own lock while it hands a result to the listeners, and asking it for the
  // current test then waits on that lock for ever: the name is kept from the test's start.
  void OnTestStart(const testing::TestInfo& t) override {
    test_ = std::string(t.test_suite_name()) + "." + t.name();
    printer_->OnTestStart(t);
  }
  void OnTestDisabled(const testing::TestInfo& t) override { printer_->OnTestDisabled(t); }
  void OnTestEnd(const testing::TestInfo& t) override { printer_->OnTestEnd(t); }
  void OnTestSuiteEnd(const testing::TestSuite& s) override { printer_->OnTestSuiteEnd(s); }
  void OnTestCaseEnd(const testing::TestCase& s) override { printer_->OnTestCaseEnd(s); }
  void OnEnvironmentsTearDownStart(const testing::UnitTest& u) override {
    printer_->OnEnvironmentsTearDownStart(u);
  }
  void OnEnvironmentsTearDownEnd(const testing::UnitTest& u) override {
    printer_->OnEnvironmentsTearDownEnd(u);
  }
  void OnTestIterationEnd(const testing::UnitTest& u, int i) override {
    printer_->OnTestIterationEnd(u, i);
  }
  void OnTestProgramEnd(const testing::UnitTest& u) override { printer_->OnTestProgramEnd(u); }

 private:
  std::unique_ptr<testing::TestEventListener> printer_;
  std::string test_;
};

}  // namespace

int main(int argc, char** argv) {
  // The same floating-point environment as the program's.
  autobackup::LoadDefaultFpuControlWord();
  testing::InitGoogleTest(&argc, argv);
  testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
  if (testing::TestEventListener* printer = listeners.default_result_printer()) {
    listeners.Append(new PrinterWithoutDebugOutput(listeners.Release(printer)));
  }
  listeners.Append(new EscapedFailurePrinter);
  return RUN_ALL_TESTS();
}
