#include "failure/report.h"

#include <gtest/gtest.h>

#include <vector>

#include "failure/fault_table.h"
#include "failure/report_format.h"
#include "testing/fake/fake_check_lock.h"
#include "testing/fake/fake_message_boxes.h"
#include "testing/fake/fake_module_lookup.h"

namespace autobackup {
namespace {

constexpr bool k64Bit = sizeof(void*) == 8;

// The program at 0x00400000, a system library above it and some heap of no module.
class ReportTest : public testing::Test {
 protected:
  ReportTest() {
    modules_.AddModule(0x00400000, 0x40000, "C:\\Program Files\\Tarvik Tools\\AutoBackup.exe");
    modules_.AddModule(0x7B000000, 0x100000, "C:\\windows\\system32\\kernel32.dll");
    modules_.AddMemory(0x00800000, 0x10000);
  }
  std::string Compose(const TObject& failure, uintptr_t address, size_t capacity = 1024) {
    return ComposeFailureText(failure, reinterpret_cast<const void*>(address),
                              LoadText(StringId::ReportPattern), capacity, modules_);
  }

  FakeModuleLookup modules_{"C:\\Program Files\\Tarvik Tools\\AutoBackup.exe"};
  FakeNamedMutex mutex_;
  FakeCheckLock lock_{&mutex_};
};

TEST_F(ReportTest, FailureRaisedInTheProgramNamesItsFileAndOffset) {
  ERegistryException failure("Invalid data type for 'LastBackupDate'");
  EXPECT_EQ(Compose(failure, 0x00412345),
            "Exception ERegistryException in module AutoBackup.exe at 00012345.\r\n"
            "Invalid data type for 'LastBackupDate'.\r\n");
}

TEST_F(ReportTest, FaultInsideASystemLibraryNamesThatLibrary) {
  EDivByZero failure("Division by zero");
  EXPECT_EQ(Compose(failure, 0x7B01ABCD),
            "Exception EDivByZero in module kernel32.dll at 0001ABCD.\r\nDivision by zero.\r\n");
  // The module's first and last byte still belong to it.
  EXPECT_NE(Compose(failure, 0x7B000000).find("kernel32.dll at 00000000."), std::string::npos);
  EXPECT_NE(Compose(failure, 0x7B0FFFFF).find("kernel32.dll at 000FFFFF."), std::string::npos);
}

TEST_F(ReportTest, FaultAtAddressZeroIsChargedToTheProgramAtOffsetZero) {
  TFaultRecord fault{0xC0000005, nullptr, 2, {0, 0}};
  auto failure = FailureFromFault(fault, modules_);
  std::string zeros = k64Bit ? "0000000000000000" : "00000000";
  EXPECT_EQ(Compose(*failure, 0),
            "Exception EAccessViolation in module AutoBackup.exe at 00000000.\r\n"
            "Access violation at address " +
                zeros + ". Read of address " + zeros + ".\r\n");
}

TEST_F(ReportTest, AddressOfNoModuleIsChargedToTheProgramFrom0x1000) {
  EConvertError failure("x");
  // Committed heap and memory nobody mapped are treated alike.
  EXPECT_NE(Compose(failure, 0x00801234).find("AutoBackup.exe at 00800234."), std::string::npos);
  EXPECT_NE(Compose(failure, 0x00001000).find("AutoBackup.exe at 00000000."), std::string::npos);
  // Just above null the subtraction wraps round, on either width.
  EXPECT_NE(Compose(failure, 0x10).find(k64Bit ? "at FFFFFFFFFFFFF010." : "at FFFFF010."),
            std::string::npos);
}

TEST_F(ReportTest, ReservedPartOfAModuleDoesNotCountAsThatModule) {
  modules_.AddReserved(0x7B080000, 0x10000, 0x7B000000);
  EXPECT_NE(Compose(EConvertError("x"), 0x7B081000).find("AutoBackup.exe at 7B080000."),
            std::string::npos);
  EXPECT_NE(Compose(EConvertError("x"), 0x7B090000).find("kernel32.dll at 00090000."),
            std::string::npos);
}

TEST_F(ReportTest, OffsetWiderThanEightDigitsIsNeverCut) {
  if (!k64Bit) {
    GTEST_SKIP() << "addresses of a 32-bit build always fit eight digits";
  }
  EConvertError failure("x");
  uintptr_t high = static_cast<uintptr_t>(UINT64_C(0x00007FF612345678));
  EXPECT_NE(Compose(failure, high).find("AutoBackup.exe at 7FF612344678."), std::string::npos);
}

struct MessageCase {
  const char* message;
  const char* second_line;
};

TEST_F(ReportTest, SecondLineGetsOnePeriodUnlessEmptyOrAlreadyThere) {
  const MessageCase cases[] = {
      {"Stack overflow", "Stack overflow.\r\n"},
      {"Done.", "Done.\r\n"},
      {"Ends in dots...", "Ends in dots...\r\n"},
      {".", ".\r\n"},
      {"A. B", "A. B.\r\n"},
      {"", "\r\n"},
  };
  for (const auto& c : cases) {
    std::string first = "Exception EConvertError in module AutoBackup.exe at 00012345.\r\n";
    EXPECT_EQ(Compose(EConvertError(c.message), 0x00412345), first + c.second_line) << c.message;
  }
  // An empty message leaves two line breaks in a row at the end.
  std::string text = Compose(Exception(""), 0x00412345);
  EXPECT_EQ(text.substr(text.size() - 5), ".\r\n\r\n");
}

// Something thrown that is no Exception: its name is shown, but it has no message to show.
class ForeignFailure : public TObject {
 public:
  const char* TypeName() const override { return "std::runtime_error"; }
};

TEST_F(ReportTest, FailureThatIsNoExceptionHasNoMessageAndNoPeriod) {
  EXPECT_EQ(Compose(ForeignFailure(), 0x00412345),
            "Exception std::runtime_error in module AutoBackup.exe at 00012345.\r\n\r\n");
}

TEST_F(ReportTest, TextIsCutToFitTheCapacityWithItsTerminator) {
  EConvertError failure(std::string(2000, 'm'));
  std::string full = Compose(failure, 0x00412345, 100000);
  ASSERT_GT(full.size(), 2000u);
  std::string cut = Compose(failure, 0x00412345);
  EXPECT_EQ(cut.size(), 1023u);
  EXPECT_EQ(cut, full.substr(0, 1023));

  EConvertError short_failure("m");
  std::string whole = Compose(short_failure, 0x00412345, 100000);
  EXPECT_EQ(Compose(short_failure, 0x00412345, whole.size() + 1), whole);
  EXPECT_EQ(Compose(short_failure, 0x00412345, whole.size()), whole.substr(0, whole.size() - 1));
  EXPECT_EQ(Compose(short_failure, 0x00412345, 1), "");
  EXPECT_EQ(Compose(short_failure, 0x00412345, 0), "");
}

TEST(ModuleName, EverythingAfterTheLastBackslash) {
  EXPECT_EQ(ModuleNamePart("C:\\Почта 邮件\\Резерв 备份.exe"), "Резерв 备份.exe");
  // "ш" is D1 88, and 88 would lead a double-byte character that swallows the backslash.
  EXPECT_EQ(ModuleNamePart("C:\\tools\\ш\\x.exe"), "x.exe");
  EXPECT_EQ(ModuleNamePart("AutoBackup.exe"), "AutoBackup.exe");
  EXPECT_EQ(ModuleNamePart("C:\\dir\\"), "");
}

// The test's exit function throws so that the test regains control.
struct ProcessEnded {
  int code;
};

void EndProcessForTest(int code) {
  throw ProcessEnded{code};
}

TEST_F(ReportTest, ReportShowsOneErrorBoxThenEndsWithExitCodeOne) {
  // A fault reported where it happened: its check is still inside the lock, taken twice.
  ASSERT_TRUE(lock_.TryAcquire() && lock_.TryAcquire());
  FakeCheckLock other_copy(&mutex_);
  ASSERT_FALSE(ScopedCheckLock(other_copy).Held());
  FakeMessageBoxes boxes;
  bool other_copy_checked = false;
  boxes.while_shown = [&] { other_copy_checked = ScopedCheckLock(other_copy).Held(); };
  ERegistryException failure("Invalid data type for 'BackupPeriod'");
  TReportGuard guard;
  try {
    ReportFatalFailure(failure, reinterpret_cast<const void*>(0x00401000),
                       {modules_, boxes, EndProcessForTest, guard, lock_});
    FAIL() << "the report returned";
  } catch (const ProcessEnded& ended) {
    EXPECT_EQ(ended.code, 1);
  }
  // The box came before the end, and only one, with the lock free while it was up.
  EXPECT_TRUE(other_copy_checked);
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].caption, "Application Error");
  EXPECT_EQ(boxes.Shown()[0].flags, 0x2010u);
  EXPECT_EQ(boxes.Shown()[0].text,
            "Exception ERegistryException in module AutoBackup.exe at 00001000.\r\n"
            "Invalid data type for 'BackupPeriod'.\r\n");
}

TEST_F(ReportTest, ReportCutsAnOverlongMessageToTheBoxCapacity) {
  FakeMessageBoxes boxes;
  TReportGuard guard;
  try {
    ReportFatalFailure(EConvertError(std::string(5000, 'x')), nullptr,
                       {modules_, boxes, EndProcessForTest, guard, lock_});
  } catch (const ProcessEnded&) {
  }
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].text.size(), 1023u);
}

}  // namespace
}  // namespace autobackup
