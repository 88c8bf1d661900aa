#include "app/startup.h"

#include <memory>

namespace autobackup {

namespace {
constexpr uint32_t kTickMilliseconds = 1000;
}  // namespace

std::string ProgramDirectoryOf(const std::string& path, ModuleLookup& modules) {
  size_t length = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    if (modules.IsLeadByte(static_cast<unsigned char>(path[i]))) {
      ++i;  // its trail byte may look like a backslash or a colon
    } else if (path[i] == '\\' || path[i] == ':') {
      length = i + 1;
    }
  }
  return path.substr(0, length);
}

int RunScheduler(ModuleLookup& modules, const TMonitorServices& services) {
  auto monitor = std::make_unique<TIdleMonitor>();
  const std::string program_directory = ProgramDirectoryOf(modules.ProgramFileName(), modules);

  // The handshake: wait for the first message; if it was the start-up timer's tick, that timer
  // has done its work.
  const uintptr_t startup_timer = services.queue.SetTimer(kTickMilliseconds);
  TMessage first;
  services.queue.WaitMessage();
  services.queue.PeekMessageA(&first);
  if (first.Message == kMessageTimer) {
    services.queue.KillTimer(startup_timer);
  }

  const uintptr_t monitor_timer = services.queue.SetTimer(kTickMilliseconds);
  Run(*monitor, program_directory, services);
  services.queue.KillTimer(monitor_timer);
  monitor.reset();
  return 0;
}

}  // namespace autobackup
