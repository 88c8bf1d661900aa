#include "failure/top_level.h"

#include <cxxabi.h>

#include <cstring>
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

// The C++ spelling of the plain names the standard library and the program throw: a built-in
// type, or a class name in namespaces ("St13runtime_error", "N10autobackup5ErrorE"). Anything
// else (templates, pointers, local classes) keeps its mangled spelling: the full demangler of the
// runtime is a fifth of the exe, for names no failure of this program has.
std::string ReadableTypeName(const char* mangled) {
  static const struct {
    char code;
    const char* name;
  } kBuiltIn[] = {{'v', "void"},
                  {'w', "wchar_t"},
                  {'b', "bool"},
                  {'c', "char"},
                  {'a', "signed char"},
                  {'h', "unsigned char"},
                  {'s', "short"},
                  {'t', "unsigned short"},
                  {'i', "int"},
                  {'j', "unsigned int"},
                  {'l', "long"},
                  {'m', "unsigned long"},
                  {'x', "long long"},
                  {'y', "unsigned long long"},
                  {'f', "float"},
                  {'d', "double"},
                  {'e', "long double"},
                  {'n', "__int128"},
                  {'o', "unsigned __int128"}};
  const char* at = mangled;
  for (const auto& built_in : kBuiltIn) {
    if (at[0] == built_in.code && at[1] == '\0') {
      return built_in.name;
    }
  }
  const bool nested = *at == 'N';
  at += nested ? 1 : 0;
  std::string name;
  if (at[0] == 'S' && at[1] == 't') {
    name = "std";
    at += 2;
  }
  bool named = false;
  while (*at >= '1' && *at <= '9') {
    named = true;
    size_t length = 0;
    while (*at >= '0' && *at <= '9' && length < 1000) {
      length = length * 10 + static_cast<size_t>(*at++ - '0');
    }
    if (std::strlen(at) < length) {
      return mangled;
    }
    const std::string part(at, length);
    name += (name.empty() ? "" : "::") +
            (part == "_GLOBAL__N_1" ? std::string("(anonymous namespace)") : part);
    at += length;
  }
  if (nested && *at++ != 'E') {
    return mangled;
  }
  return *at == '\0' && named ? name : mangled;
}

std::string CurrentExceptionTypeName() {
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (type == nullptr) {
    return "unknown";
  }
  // A type of internal linkage has its name marked.
  const char* mangled = type->name();
  return ReadableTypeName(mangled[0] == '*' ? mangled + 1 : mangled);
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
