// The fault table: fault code to failure type and message.
#include "failure/fault_table.h"

#include "failure/report_format.h"

namespace autobackup {
namespace {

// The system's fault codes, under the names of its STATUS_ constants.
constexpr uint32_t kFaultAccessViolation = 0xC0000005;
constexpr uint32_t kFaultArrayBoundsExceeded = 0xC000008C;
constexpr uint32_t kFaultFloatDenormalOperand = 0xC000008D;
constexpr uint32_t kFaultFloatDivideByZero = 0xC000008E;
constexpr uint32_t kFaultFloatInexactResult = 0xC000008F;
constexpr uint32_t kFaultFloatInvalidOperation = 0xC0000090;
constexpr uint32_t kFaultFloatOverflow = 0xC0000091;
constexpr uint32_t kFaultFloatStackCheck = 0xC0000092;
constexpr uint32_t kFaultFloatUnderflow = 0xC0000093;
constexpr uint32_t kFaultIntegerDivideByZero = 0xC0000094;
constexpr uint32_t kFaultIntegerOverflow = 0xC0000095;
constexpr uint32_t kFaultPrivilegedInstruction = 0xC0000096;
constexpr uint32_t kFaultStackOverflow = 0xC00000FD;
constexpr uint32_t kFaultControlCExit = 0xC000013A;

using MakeFailure = std::unique_ptr<EExternal> (*)(std::string message, const TFaultRecord* fault);

template <class T>
std::unique_ptr<EExternal> Make(std::string message, const TFaultRecord* fault) {
  return std::make_unique<T>(std::move(message), fault);
}

struct FaultRow {
  uint32_t code;
  MakeFailure make;
  StringId message;
};

// Underflow, denormal operands and inexact results are masked by the program's control word, so
// their rows only matter for code that changes it.
constexpr FaultRow kFaultTable[] = {
    {kFaultIntegerDivideByZero, Make<EDivByZero>, StringId::DivByZero},
    {kFaultIntegerOverflow, Make<EIntOverflow>, StringId::IntOverflow},
    {kFaultArrayBoundsExceeded, Make<ERangeError>, StringId::RangeError},
    {kFaultFloatDivideByZero, Make<EZeroDivide>, StringId::ZeroDivide},
    {kFaultFloatInvalidOperation, Make<EInvalidOp>, StringId::InvalidOp},
    {kFaultFloatInexactResult, Make<EInvalidOp>, StringId::InvalidOp},
    {kFaultFloatStackCheck, Make<EInvalidOp>, StringId::InvalidOp},
    {kFaultFloatOverflow, Make<EOverflow>, StringId::Overflow},
    {kFaultFloatUnderflow, Make<EUnderflow>, StringId::Underflow},
    {kFaultFloatDenormalOperand, Make<EUnderflow>, StringId::Underflow},
    {kFaultPrivilegedInstruction, Make<EPrivilege>, StringId::Privilege},
    {kFaultStackOverflow, Make<EStackOverflow>, StringId::StackOverflow},
    {kFaultControlCExit, Make<EControlC>, StringId::ControlC},
};

// A parameter the system did not supply counts as 0.
uintptr_t Parameter(const TFaultRecord& fault, uint32_t index) {
  return index < fault.ParameterCount ? fault.Parameters[index] : 0;
}

std::string AccessViolationMessage(const TFaultRecord& fault, ModuleLookup& modules) {
  auto address = reinterpret_cast<uintptr_t>(fault.Address);
  std::string at = HexText(address, kAddressDigits);
  std::string operation = Parameter(fault, 0) == 0 ? "Read" : "Write";
  std::string target = HexText(Parameter(fault, 1), kAddressDigits);
  TModulePlace place = LocateAddress(address, modules);
  if (place.InModule) {
    return FillPattern(LoadText(StringId::AccessViolationInModule),
                       {at, place.Name, operation, target});
  }
  return FillPattern(LoadText(StringId::AccessViolation), {at, operation, target});
}

}  // namespace

std::unique_ptr<EExternal> FailureFromFault(const TFaultRecord& fault, ModuleLookup& modules) {
  if (fault.Code == kFaultAccessViolation) {
    return std::make_unique<EAccessViolation>(AccessViolationMessage(fault, modules), &fault);
  }
  for (const FaultRow& row : kFaultTable) {
    if (row.code == fault.Code) {
      return row.make(LoadText(row.message), &fault);
    }
  }
  return std::make_unique<EExternalException>(
      FillPattern(LoadText(StringId::ExternalException), {HexText(fault.Code, 1)}), &fault);
}

}  // namespace autobackup
