// Composing and showing the fatal error report.
#include "failure/report.h"

#include <cstdlib>

#include "failure/report_format.h"

namespace autobackup {
namespace {

// Room the string table's texts are read into, terminator included.
constexpr size_t kPatternRoom = 256;
constexpr size_t kTitleRoom = 64;

std::string FitIn(std::string text, size_t room) {
  if (text.size() >= room) {
    text.resize(room == 0 ? 0 : room - 1);
  }
  return text;
}

}  // namespace

std::string ComposeFailureText(const TObject& failure, const void* address,
                               const std::string& pattern, size_t capacity, ModuleLookup& modules) {
  TModulePlace place = LocateAddress(reinterpret_cast<uintptr_t>(address), modules);
  const auto* exception = dynamic_cast<const Exception*>(&failure);
  std::string message = exception != nullptr ? exception->Message() : std::string();
  std::string period = !message.empty() && message.back() != '.' ? "." : "";
  return FitIn(FillPattern(pattern, {failure.TypeName(), place.Name,
                                     HexText(place.Offset, kOffsetDigits), message, period}),
               capacity);
}

void ReportFatalFailure(const TObject& failure, const void* address,
                        const TReportServices& services) {
  // A fault reported where it happened has unwound nothing: its check may still hold the lock.
  services.check_lock.ReleaseThreadHolds();
  if (services.guard.Claim()) {
    std::string pattern = FitIn(LoadText(StringId::ReportPattern), kPatternRoom);
    std::string text =
        ComposeFailureText(failure, address, pattern, kReportCapacity, services.modules);
    std::string title = FitIn(LoadText(StringId::ReportTitle), kTitleRoom);
    services.boxes.Show(text, title, kBoxOk | kBoxIconError | kBoxTaskModal);
  }
  services.exit_process(1);
  std::abort();  // Only reached if the exit function broke its promise.
}

}  // namespace autobackup
