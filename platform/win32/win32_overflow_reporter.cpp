#include "platform/win32/win32_overflow_reporter.h"

#include <windows.h>

namespace autobackup {
namespace {

const TReportServices* reporting = nullptr;
void (*report_overflow)(const TReportServices&) = nullptr;
// The reporting thread is started with the filter and only woken here. It says when its box is
// up; until then the overflowed thread waits only a bounded time.
HANDLE overflow_reporter = nullptr;
HANDLE overflow_event = nullptr;
HANDLE box_up_event = nullptr;
// The thread that installed the filter: should the system end it, overflowed, without handing the
// overflow to the program (as Wine does on 64-bit), the reporting thread must not keep the process.
HANDLE main_thread = nullptr;
// How long the woken thread may take to put its box up before the process ends without it.
constexpr DWORD kBoxWaitMilliseconds = 10000;
// Stack kept back on the main thread for the filter after an overflow.
constexpr ULONG kOverflowStackGuarantee = 64 * 1024;

void EndAtOnceWith(int) {
  EndAtOnce();
}

// The box is up once its dialog window is made. Its activation would come later, or never: the
// system does not let a process in the background bring a window to the front.
LRESULT CALLBACK WatchForBox(int code, WPARAM wparam, LPARAM lparam) {
  wchar_t class_name[8];
  if (code == HCBT_CREATEWND &&
      GetClassNameW(reinterpret_cast<HWND>(wparam), class_name, ARRAYSIZE(class_name)) == 6 &&
      lstrcmpW(class_name, L"#32770") == 0) {
    SetEvent(box_up_event);
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

DWORD WINAPI ReportOverflowWhenWoken(LPVOID) {
  // Hooked before the wait, while all is well: after the overflow the heap's or the loader's lock
  // may be held, and the box must not come without the hook that tells it is up.
  SetWindowsHookExW(WH_CBT, WatchForBox, nullptr, GetCurrentThreadId());
  const HANDLE wakes[] = {overflow_event, main_thread};
  if (WaitForMultipleObjects(main_thread != nullptr ? 2 : 1, wakes, FALSE, INFINITE) !=
      WAIT_OBJECT_0) {
    EndAtOnce();
  }
  // The overflowed thread may hold any lock: the end after OK must not wait for one either.
  TReportServices services = *reporting;
  services.exit_process = EndAtOnceWith;
  report_overflow(services);
  EndAtOnce();
}

}  // namespace

[[noreturn]] void EndAtOnce() {
  TerminateProcess(GetCurrentProcess(), 1);
  ExitProcess(1);
}

void StartOverflowReporter(const TReportServices& services,
                           void (*report)(const TReportServices& services)) {
  reporting = &services;
  report_overflow = report;
  ULONG guarantee = kOverflowStackGuarantee;
  SetThreadStackGuarantee(&guarantee);
  overflow_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  box_up_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &main_thread,
                  SYNCHRONIZE, FALSE, 0);
  if (overflow_event != nullptr && box_up_event != nullptr) {
    // The exe's default stack: reserved pages cost nothing resident, and the message box runs
    // hooks and input-method code on it.
    overflow_reporter = CreateThread(nullptr, 0, ReportOverflowWhenWoken, nullptr, 0, nullptr);
  }
}

[[noreturn]] void ReportOverflow() {
  // The report gives back the check lock before its box, but on the reporting thread, which holds
  // none of it: the overflowed check's hold is given back here, on the only thread that can.
  reporting->check_lock.ReleaseThreadHolds();
  if (overflow_reporter != nullptr && SetEvent(overflow_event)) {
    const HANDLE ends[] = {box_up_event, overflow_reporter};
    if (WaitForMultipleObjects(2, ends, FALSE, kBoxWaitMilliseconds) == WAIT_OBJECT_0) {
      WaitForSingleObject(overflow_reporter, INFINITE);
    }
  }
  EndAtOnce();
}

}  // namespace autobackup
