// The values, the property check and the failure test shared by the fuzz targets.
#include "fuzz/fuzz_support.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "calendar/calendar.h"
#include "calendar/extended.h"
#include "settings/schedule_key.h"

namespace autobackup::fuzz {

double CalendarValue(uint64_t bits) {
  constexpr int64_t kFirstDay = static_cast<int64_t>(kFirstDate) - 1;
  constexpr int64_t kDays = static_cast<int64_t>(kLastDate) + 2 - kFirstDay;
  const double day = static_cast<double>(kFirstDay + static_cast<int64_t>(bits % kDays));
  const double time = std::ldexp(static_cast<double>(bits >> 32), -32);
  return day >= 0 ? day + time : day - time;
}

double SpanOfAnyScale(uint64_t bits) {
  const auto magnitude = static_cast<double>(static_cast<int64_t>(bits) >> 5);
  return std::ldexp(magnitude, static_cast<int>(bits & 31) - 67);
}

void Fail(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  std::fputs("broken property: ", stderr);
  std::vfprintf(stderr, format, arguments);
  std::fputc('\n', stderr);
  va_end(arguments);
  std::abort();
}

namespace {

// The message each failure type is raised with; the registry's three carry the value's name.
bool MessageFits(const std::string& type, const std::string& message) {
  auto text = [](StringId id) { return LoadText(id); };
  if (type == "EInvalidOp")
    return message == text(StringId::InvalidOp);
  if (type == "EZeroDivide")
    return message == text(StringId::ZeroDivide);
  if (type == "EOverflow")
    return message == text(StringId::Overflow);
  if (type == "EDivByZero")
    return message == text(StringId::DivByZero);
  if (type == "EConvertError") {
    return message == text(StringId::DateEncodeError) || message == text(StringId::TimeEncodeError);
  }
  if (type == "ERegistryException") {
    for (StringId id :
         {StringId::RegGetDataFailed, StringId::RegInvalidDataType, StringId::RegSetDataFailed}) {
      for (const char* name : {kLastBackupDate, kBackupTime, kBackupPeriod, kBackupInterval}) {
        if (message == FillPattern(text(id), {name})) {
          return true;
        }
      }
    }
  }
  return false;
}

}  // namespace

void RequireAllowed(const Exception& failure, std::initializer_list<const char*> allowed) {
  const std::string type = failure.TypeName();
  bool listed = false;
  for (const char* name : allowed) {
    listed = listed || type == name;
  }
  FUZZ_REQUIRE(listed, "failure of a type not allowed here: %s (%s)", type.c_str(),
               failure.Message().c_str());
  FUZZ_REQUIRE(MessageFits(type, failure.Message()), "%s with a foreign message: %s", type.c_str(),
               failure.Message().c_str());
}

}  // namespace autobackup::fuzz

// Every target computes under the program's own control word, loaded once before the first input.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  autobackup::LoadDefaultFpuControlWord();
  return 0;
}
