#include "failure/failures.h"

#include <gtest/gtest.h>

#include <memory>
#include <type_traits>

namespace autobackup {
namespace {

template <class T>
std::unique_ptr<TObject> Make() {
  return std::make_unique<T>("m");
}

struct NamedType {
  std::unique_ptr<TObject> failure;
  const char* name;
};

TEST(Failures, EveryTypeGivesBackItsOwnName) {
  const NamedType types[] = {
      {Make<Exception>(), "Exception"},
      {Make<ERegistryException>(), "ERegistryException"},
      {Make<EConvertError>(), "EConvertError"},
      {Make<EHeapException>(), "EHeapException"},
      {Make<EOutOfMemory>(), "EOutOfMemory"},
      {Make<EInvalidPointer>(), "EInvalidPointer"},
      {Make<EExternal>(), "EExternal"},
      {Make<EIntError>(), "EIntError"},
      {Make<EDivByZero>(), "EDivByZero"},
      {Make<ERangeError>(), "ERangeError"},
      {Make<EIntOverflow>(), "EIntOverflow"},
      {Make<EMathError>(), "EMathError"},
      {Make<EInvalidOp>(), "EInvalidOp"},
      {Make<EZeroDivide>(), "EZeroDivide"},
      {Make<EOverflow>(), "EOverflow"},
      {Make<EUnderflow>(), "EUnderflow"},
      {Make<EAccessViolation>(), "EAccessViolation"},
      {Make<EPrivilege>(), "EPrivilege"},
      {Make<EStackOverflow>(), "EStackOverflow"},
      {Make<EControlC>(), "EControlC"},
      {Make<EExternalException>(), "EExternalException"},
  };
  for (const auto& type : types) {
    EXPECT_STREQ(type.failure->TypeName(), type.name);
  }
  EXPECT_STREQ(TObject().TypeName(), "TObject");
}

// The tree of failure kinds, as the report and any handler of a base kind rely on it.
static_assert(std::is_base_of_v<EIntError, EDivByZero> && std::is_base_of_v<EExternal, EIntError>);
static_assert(std::is_base_of_v<EMathError, EZeroDivide> &&
              !std::is_base_of_v<EIntError, EZeroDivide>);
static_assert(std::is_base_of_v<EMathError, EInvalidOp> &&
              std::is_base_of_v<EExternal, EMathError>);
static_assert(std::is_base_of_v<EHeapException, EOutOfMemory> &&
              !std::is_base_of_v<EExternal, EOutOfMemory>);
static_assert(std::is_base_of_v<EExternal, EAccessViolation> &&
              !std::is_base_of_v<EMathError, EAccessViolation>);
static_assert(std::is_base_of_v<Exception, ERegistryException> &&
              std::is_base_of_v<TObject, Exception>);

TEST(Failures, ExternalFailureKeepsItsFaultRecord) {
  TFaultRecord record;
  record.Code = 0xC0000094;
  EDivByZero failure("Division by zero", &record);
  EXPECT_EQ(failure.FaultRecord(), &record);
}

__attribute__((noinline)) void RaiseRegistryFailure() {
  Raise<ERegistryException>(StringId::RegInvalidDataType, "LastBackupDate");
}

TEST(Failures, RaiseFillsTheValueNameAndRecordsWhereItWasRaised) {
  try {
    RaiseRegistryFailure();
    FAIL() << "nothing raised";
  } catch (const Exception& failure) {
    EXPECT_STREQ(failure.TypeName(), "ERegistryException");
    EXPECT_EQ(failure.Message(), "Invalid data type for 'LastBackupDate'");
    // The raise address lies inside the function that called the helper.
    auto address = reinterpret_cast<uintptr_t>(failure.RaiseAddress());
    auto start = reinterpret_cast<uintptr_t>(&RaiseRegistryFailure);
    EXPECT_GT(address, start);
    EXPECT_LT(address, start + 256);
  }
}

TEST(Failures, FillPatternTakesTheArgumentsInOrder) {
  EXPECT_EQ(FillPattern("%s in %s at %p%x", {"a", "b", "c", "d"}), "a in b at cd");
  EXPECT_EQ(FillPattern("100%% %s", {"x"}), "100% x");
  EXPECT_EQ(FillPattern("%d %s", {"x"}), "%d x");
  EXPECT_EQ(FillPattern("%s %s%", {"x"}), "x %");
  // An argument that holds a placeholder is not filled again.
  EXPECT_EQ(FillPattern("%s/%s", {"%s", "b"}), "%s/b");
}

#ifdef _WIN32
// The compiled resource holds every text of the shared list, to the letter. (The host build's
// table is that list itself.)
TEST(StringTable, ResourceHoldsEveryTextExactly) {
#define AUTOBACKUP_STRING(name, id, text) EXPECT_EQ(LoadText(StringId::name), text) << #name;
#include "failure/strings.def"
#undef AUTOBACKUP_STRING
}
#endif

}  // namespace
}  // namespace autobackup
