// The fault table: fault code to failure type and message.
#include "failure/fault_table.h"

#include "failure/report_format.h"

namespace autobackup {
namespace {

constexpr uint32_t kFaultAccessViolation = 0xC0000005;

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
    {0xC0000094, Make<EDivByZero>, StringId::DivByZero},
    {0xC0000095, Make<EIntOverflow>, StringId::IntOverflow},
    {0xC000008C, Make<ERangeError>, StringId::RangeError},
    {0xC000008E, Make<EZeroDivide>, StringId::ZeroDivide},
    {0xC0000090, Make<EInvalidOp>, StringId::InvalidOp},
    {0xC000008F, Make<EInvalidOp>, StringId::InvalidOp},
    {0xC0000092, Make<EInvalidOp>, StringId::InvalidOp},
    {0xC0000091, Make<EOverflow>, StringId::Overflow},
    {0xC0000093, Make<EUnderflow>, StringId::Underflow},
    {0xC000008D, Make<EUnderflow>, StringId::Underflow},
    {0xC0000096, Make<EPrivilege>, StringId::Privilege},
    {0xC00000FD, Make<EStackOverflow>, StringId::StackOverflow},
    {0xC000013A, Make<EControlC>, StringId::ControlC},
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
