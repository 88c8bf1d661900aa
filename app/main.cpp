// AutoBackup.exe: the scheduler on the machine's own clock.
#include <windows.h>

#include "app/entry.h"
#include "platform/win32/win32_clock.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  autobackup::TProcessServices& process = autobackup::PrepareProcess();
  autobackup::Win32Clock clock;
  return autobackup::RunProgram(clock, process);
}
