// box_tool.exe: reads the message boxes another program shows, for the end-to-end scenarios.
// Commands, run one after another in one start:
//   wait TITLE SECONDS   waits (bounded) for a visible dialog box with that title, then prints
//                        "box found", "handle ...", "title ...", "text ..." (escaped, see
//                        box_text.h) and "hex ..." (the text's exact bytes); "box absent" and exit
//                        code 1 if none
//   press TITLE          presses the box's OK button ("pressed"); exit code 1 if there is none
//   count                "open N": the visible top-level dialog boxes, then "open-title ..." each
// The OK button is pressed by posting WM_COMMAND with IDOK: closing the box instead would make it
// answer IDCANCEL.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/tools/box_text.h"
#include "e2e/tools/schedule_text.h"

namespace autobackup {
namespace {

// The class of dialog boxes, message boxes among them.
constexpr char kDialogClass[] = "#32770";
// The static control that holds a message box's text.
constexpr int kMessageTextId = 0xFFFF;

std::string WindowText(HWND window) {
  char text[4096] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

HWND FindBox(const std::string& title) {
  HWND box = FindWindowA(kDialogClass, title.c_str());
  return box != nullptr && IsWindowVisible(box) ? box : nullptr;
}

bool Wait(const std::string& title, int seconds) {
  const DWORD start = GetTickCount();
  HWND box = FindBox(title);
  while (box == nullptr && GetTickCount() - start < static_cast<DWORD>(seconds) * 1000) {
    Sleep(100);
    box = FindBox(title);
  }
  if (box == nullptr) {
    std::printf("box absent\n");
    return false;
  }
  const std::string text = WindowText(GetDlgItem(box, kMessageTextId));
  // The handle tells a box shown anew from one that is still open.
  std::printf("box found\nhandle %08llx\ntitle %s\ntext %s\nhex %s\n",
              static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(box)),
              EscapedText(WindowText(box)).c_str(), EscapedText(text).c_str(),
              HexBytes(text.data(), text.size()).c_str());
  return true;
}

bool Press(const std::string& title) {
  HWND box = FindBox(title);
  if (box == nullptr || !PostMessageA(box, WM_COMMAND, IDOK, 0)) {
    std::printf("press failed\n");
    return false;
  }
  std::printf("pressed\n");
  return true;
}

BOOL CALLBACK CollectBox(HWND window, LPARAM boxes) {
  char class_name[16] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  if (IsWindowVisible(window) && std::string(class_name) == kDialogClass) {
    reinterpret_cast<std::vector<std::string>*>(boxes)->push_back(WindowText(window));
  }
  return TRUE;
}

void Count() {
  std::vector<std::string> titles;
  EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&titles));
  std::printf("open %u\n", static_cast<unsigned>(titles.size()));
  for (const std::string& title : titles) {
    std::printf("open-title %s\n", EscapedText(title).c_str());
  }
}

int Run(const std::vector<std::string>& words) {
  for (size_t at = 0; at < words.size();) {
    const std::string& command = words[at++];
    bool done = true;
    if (command == "wait" && at + 2 <= words.size()) {
      done = Wait(words[at], std::atoi(words[at + 1].c_str()));
      at += 2;
    } else if (command == "press" && at + 1 <= words.size()) {
      done = Press(words[at++]);
    } else if (command == "count") {
      Count();
    } else {
      std::fprintf(stderr, "box_tool: bad command %s\n", command.c_str());
      return 2;
    }
    std::fflush(stdout);
    if (!done) {
      return 1;
    }
  }
  return 0;
}

}  // namespace
}  // namespace autobackup

int main(int argc, char** argv) {
  return autobackup::Run(std::vector<std::string>(argv + 1, argv + argc));
}
