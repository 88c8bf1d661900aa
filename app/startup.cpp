#include "app/startup.h"

#include <memory>

namespace autobackup {

std::string ProgramDirectoryOf(const std::string& path) {
  return path.substr(0, FileNameStart(path, "\\:"));
}

int RunScheduler(ModuleLookup& modules, const TMonitorServices& services) {
  auto monitor = std::make_unique<TIdleMonitor>();
  const std::string program_directory = ProgramDirectoryOf(modules.ProgramFileName());

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
