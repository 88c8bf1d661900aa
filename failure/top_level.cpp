#include "failure/top_level.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <typeinfo>

namespace autobackup {
namespace {

// Something thrown that is no failure type: the report names its C++ type and shows no message.
class TForeignFailure : public TObject {
 public:
  explicit TForeignFailure(std::string name) : name_(std::move(name)) {}
  const char* TypeName() const override { return name_.c_str(); }

 private:
  std::string name_;
};

std::string CurrentExceptionTypeName() {
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (type == nullptr) {
    return "unknown";
  }
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(type->name(), nullptr, nullptr, &status), std::free);
  return status == 0 && demangled ? demangled.get() : type->name();
}

}  // namespace

int RunReportingFailures(const std::function<int()>& body, const TReportServices& services) {
  try {
    return body();
  } catch (...) {
    ReportCurrentFailure(services);
  }
}

void ReportCurrentFailure(const TReportServices& services) {
  try {
    throw;
  } catch (const Exception& failure) {
    ReportFatalFailure(failure, failure.RaiseAddress(), services);
  } catch (const std::bad_alloc&) {
    const EOutOfMemory failure(LoadText(StringId::OutOfMemory));
    ReportFatalFailure(failure, nullptr, services);
  } catch (...) {
    const TForeignFailure failure(CurrentExceptionTypeName());
    ReportFatalFailure(failure, nullptr, services);
  }
}

}  // namespace autobackup
