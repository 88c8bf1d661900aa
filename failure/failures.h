// The failure types: every failure the program raises or turns a processor fault into.
// Each type gives back its own name, which the fatal report shows.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "failure/string_ids.h"
#include "platform/string_table.h"

namespace autobackup {

class TObject {
 public:
  virtual ~TObject() = default;
  virtual const char* TypeName() const { return "TObject"; }
};

class Exception : public TObject {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* TypeName() const override { return "Exception"; }
  // Throws a copy of the failure as its own type, which a reference to a base cannot do.
  [[noreturn]] virtual void Throw() const { throw *this; }
  const std::string& Message() const { return message_; }
  int32_t HelpContext() const { return 0; }
  // Code address just after the call that raised the failure; null if it was never raised
  // through the raise helpers.
  const void* RaiseAddress() const { return raise_address_; }
  void SetRaiseAddress(const void* address) { raise_address_ = address; }

 private:
  std::string message_;
  const void* raise_address_ = nullptr;
};

// The system's record of a processor or system fault, as far as the program needs it.
struct TFaultRecord {
  uint32_t Code = 0;
  const void* Address = nullptr;
  uint32_t ParameterCount = 0;
  uintptr_t Parameters[2] = {0, 0};
};

class EExternal : public Exception {
 public:
  explicit EExternal(std::string message, const TFaultRecord* fault = nullptr)
      : Exception(std::move(message)), fault_(fault) {}
  const char* TypeName() const override { return "EExternal"; }
  [[noreturn]] void Throw() const override { throw *this; }
  const TFaultRecord* FaultRecord() const { return fault_; }

 private:
  const TFaultRecord* fault_;
};

#define AUTOBACKUP_FAILURE_TYPE(Name, Base)                   \
  class Name : public Base {                                  \
   public:                                                    \
    using Base::Base;                                         \
    const char* TypeName() const override { return #Name; }   \
    [[noreturn]] void Throw() const override { throw *this; } \
  }

AUTOBACKUP_FAILURE_TYPE(ERegistryException, Exception);
AUTOBACKUP_FAILURE_TYPE(EConvertError, Exception);
AUTOBACKUP_FAILURE_TYPE(EHeapException, Exception);
AUTOBACKUP_FAILURE_TYPE(EOutOfMemory, EHeapException);
AUTOBACKUP_FAILURE_TYPE(EInvalidPointer, EHeapException);
AUTOBACKUP_FAILURE_TYPE(EIntError, EExternal);
AUTOBACKUP_FAILURE_TYPE(EDivByZero, EIntError);
AUTOBACKUP_FAILURE_TYPE(ERangeError, EIntError);
AUTOBACKUP_FAILURE_TYPE(EIntOverflow, EIntError);
AUTOBACKUP_FAILURE_TYPE(EMathError, EExternal);
AUTOBACKUP_FAILURE_TYPE(EInvalidOp, EMathError);
AUTOBACKUP_FAILURE_TYPE(EZeroDivide, EMathError);
AUTOBACKUP_FAILURE_TYPE(EOverflow, EMathError);
AUTOBACKUP_FAILURE_TYPE(EUnderflow, EMathError);
AUTOBACKUP_FAILURE_TYPE(EAccessViolation, EExternal);
AUTOBACKUP_FAILURE_TYPE(EPrivilege, EExternal);
AUTOBACKUP_FAILURE_TYPE(EStackOverflow, EExternal);
AUTOBACKUP_FAILURE_TYPE(EControlC, EExternal);
AUTOBACKUP_FAILURE_TYPE(EExternalException, EExternal);

#undef AUTOBACKUP_FAILURE_TYPE

// `pattern` with its placeholders "%s", "%p" and "%x" replaced, in order, by the already
// formatted `arguments`; "%%" gives "%". Placeholders beyond the arguments give nothing.
std::string FillPattern(const std::string& pattern, std::initializer_list<std::string> arguments);

// Throws a failure of type T whose message is the string-table text `id`, with its "%s"
// replaced by `argument`. Records the address the helper returns to, so it must not be inlined.
template <class T>
[[noreturn]] __attribute__((noinline)) void Raise(StringId id, const std::string& argument = {}) {
  T failure(FillPattern(LoadText(id), {argument}));
  failure.SetRaiseAddress(__builtin_extract_return_addr(__builtin_return_address(0)));
  throw failure;
}

}  // namespace autobackup
