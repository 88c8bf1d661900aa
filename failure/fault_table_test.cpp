#include "failure/fault_table.h"

#include <gtest/gtest.h>

#include "testing/fake/fake_module_lookup.h"

namespace autobackup {
namespace {

constexpr bool k64Bit = sizeof(void*) == 8;

// An absolute address as the build prints it: eight digits widened to sixteen on 64-bit.
std::string Address(const std::string& eight_digits) {
  return k64Bit ? "00000000" + eight_digits : eight_digits;
}

class FaultTableTest : public testing::Test {
 protected:
  FaultTableTest() {
    modules_.AddModule(0x00400000, 0x40000, "C:\\Tarvik\\AutoBackup.exe");
    modules_.AddModule(0x7B000000, 0x100000, "C:\\windows\\system32\\ntdll.dll");
    modules_.AddMemory(0x00800000, 0x10000);
  }
  FakeModuleLookup modules_{"C:\\Tarvik\\AutoBackup.exe"};
};

struct FaultRow {
  uint32_t code;
  const char* type;
  const char* message;
};

TEST_F(FaultTableTest, EveryCodeOfTheTableGivesItsTypeAndMessage) {
  const FaultRow rows[] = {
      {0xC0000094, "EDivByZero", "Division by zero"},
      {0xC0000095, "EIntOverflow", "Integer overflow"},
      {0xC000008C, "ERangeError", "Range check error"},
      {0xC000008E, "EZeroDivide", "Floating point division by zero"},
      {0xC0000090, "EInvalidOp", "Invalid floating point operation"},
      {0xC000008F, "EInvalidOp", "Invalid floating point operation"},
      {0xC0000092, "EInvalidOp", "Invalid floating point operation"},
      {0xC0000091, "EOverflow", "Floating point overflow"},
      {0xC0000093, "EUnderflow", "Floating point underflow"},
      {0xC000008D, "EUnderflow", "Floating point underflow"},
      {0xC0000096, "EPrivilege", "Privileged instruction"},
      {0xC00000FD, "EStackOverflow", "Stack overflow"},
      {0xC000013A, "EControlC", "Control-C hit"},
  };
  for (const auto& row : rows) {
    TFaultRecord fault{row.code, reinterpret_cast<const void*>(0x00401234), 0, {}};
    auto failure = FailureFromFault(fault, modules_);
    ASSERT_NE(failure, nullptr);
    EXPECT_STREQ(failure->TypeName(), row.type) << std::hex << row.code;
    EXPECT_EQ(failure->Message(), row.message) << std::hex << row.code;
    EXPECT_EQ(failure->FaultRecord(), &fault);
  }
}

struct UnknownCode {
  uint32_t code;
  const char* message;
};

TEST_F(FaultTableTest, UnknownCodeIsAnExternalExceptionInCapitalsWithoutLeadingZeros) {
  const UnknownCode codes[] = {
      {0xE06D7363, "External exception E06D7363"},
      {0x80000003, "External exception 80000003"},
      // Next to rows of the table.
      {0xC000008B, "External exception C000008B"},
      {0xC0000097, "External exception C0000097"},
      {0xC0000004, "External exception C0000004"},
      {0x00000ABC, "External exception ABC"},
      {0x00000001, "External exception 1"},
      {0x00000000, "External exception 0"},
  };
  for (const auto& c : codes) {
    TFaultRecord fault{c.code, nullptr, 0, {}};
    auto failure = FailureFromFault(fault, modules_);
    EXPECT_STREQ(failure->TypeName(), "EExternalException");
    EXPECT_EQ(failure->Message(), c.message);
    EXPECT_EQ(failure->FaultRecord(), &fault);
  }
}

struct ViolationCase {
  uintptr_t at;
  uintptr_t operation;
  uintptr_t target;
  std::string message;
};

TEST_F(FaultTableTest, AccessViolationNamesOperationTargetAndModule) {
  const ViolationCase cases[] = {
      {0x00401234, 0, 0x00000010,
       "Access violation at address " + Address("00401234") +
           " in module 'AutoBackup.exe'. Read of address " + Address("00000010")},
      {0x00401234, 1, 0x0012FF00,
       "Access violation at address " + Address("00401234") +
           " in module 'AutoBackup.exe'. Write of address " + Address("0012FF00")},
      // Any operation other than a read counts as a write.
      {0x7B000ABC, 8, 0xDEADBEEF,
       "Access violation at address " + Address("7B000ABC") +
           " in module 'ntdll.dll'. Write of address " + Address("DEADBEEF")},
      // A call through a null pointer: no module holds address 0.
      {0, 0, 0,
       "Access violation at address " + Address("00000000") + ". Read of address " +
           Address("00000000")},
      // Committed memory of no module is no module either.
      {0x00801000, 1, 0x00000004,
       "Access violation at address " + Address("00801000") + ". Write of address " +
           Address("00000004")},
  };
  for (const auto& c : cases) {
    TFaultRecord fault{0xC0000005, reinterpret_cast<const void*>(c.at), 2, {c.operation, c.target}};
    auto failure = FailureFromFault(fault, modules_);
    EXPECT_STREQ(failure->TypeName(), "EAccessViolation");
    EXPECT_EQ(failure->Message(), c.message);
    EXPECT_EQ(failure->FaultRecord(), &fault);
  }
}

TEST_F(FaultTableTest, AccessViolationIgnoresParametersTheSystemDidNotSupply) {
  TFaultRecord fault{0xC0000005, nullptr, 0, {1, 0x12345678}};
  auto failure = FailureFromFault(fault, modules_);
  EXPECT_EQ(failure->Message(), "Access violation at address " + Address("00000000") +
                                    ". Read of address " + Address("00000000"));
}

TEST_F(FaultTableTest, AccessViolationPrintsWholeAddressesOnA64BitBuild) {
  if (!k64Bit) {
    GTEST_SKIP() << "a 32-bit build has no addresses beyond eight digits";
  }
  auto high = static_cast<uintptr_t>(UINT64_C(0x00007FFA12345678));
  TFaultRecord fault{0xC0000005, reinterpret_cast<const void*>(high), 2, {0, high + 8}};
  EXPECT_EQ(FailureFromFault(fault, modules_)->Message(),
            "Access violation at address 00007FFA12345678. Read of address 00007FFA12345680");
}

}  // namespace
}  // namespace autobackup
