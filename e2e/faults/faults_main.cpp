// AutoBackupFaults.exe, a test-only build of the program (never shipped): its first clock read,
// inside a check with the schedule key open, commits the processor fault its argument names.
// When the fault unwinds as a failure, "cleanup-mark.txt" appears beside the exe on the way out.
#include <windows.h>

#include <string>

#include "app/entry.h"
#include "e2e/faults/fault_injection.h"
#include "platform/win32/win32_clock.h"

namespace {

void LeaveCleanupMark() {
  char path[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string mark(path, length);
  mark.resize(mark.find_last_of('\\') + 1);
  mark += "cleanup-mark.txt";
  HANDLE file = CreateFileA(mark.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  autobackup::TProcessServices& process = autobackup::PrepareProcess();
  autobackup::Win32Clock clock;
  autobackup::FaultingClock faulting(clock, autobackup::InjectedFaultOf(GetCommandLineA()),
                                     LeaveCleanupMark);
  return autobackup::RunProgram(faulting, process);
}
