// schedule_tool.exe: reads and writes the backup schedule in the current user's registry for the
// end-to-end tests and the demo, prints dates and the present moment, asks the due-date rules
// what they decide, holds the check lock's name as another account could, opens a folder to
// every user as a careless setup could, and tells the program's tick and settling delay. Several
// commands may follow each other in one start; with none, or an unknown one, it prints its
// commands (the table kCommands below). DATE, LAST and PRESENT take the forms of
// schedule_text.h. One output line per command; a malformed command or a failed registry call
// ends the tool with code 2 before the next runs.
#include <windows.h>
// after windows.h, which it needs
#include <aclapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "calendar/extended.h"
#include "e2e/tools/schedule_text.h"
#include "failure/failures.h"
#include "platform/win32/win32_check_lock.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_registry.h"
#include "scheduling/due_rules.h"
#include "scheduling/monitor.h"
#include "settings/schedule_key.h"
#include "testing/win32/foreign_mutex.h"

namespace autobackup {
namespace {

// Below HKEY_CURRENT_USER, without the leading backslash that marks the path absolute.
const char* const kKeyPath = kScheduleKeyPath + 1;
constexpr char kParentPath[] = "Software\\Tarvik Tools";

struct Failed {
  std::string what;
};

class Tool {
 public:
  // Runs the commands in `words` one after another; returns the exit code.
  int Run(const std::vector<std::string>& words);

  const std::string& Next(const char* what);
  void Now();
  void Put();
  void PutDate();
  void PutDword();
  void Get();
  void ShowDate();
  void Delete();
  void Key();
  void DeleteKey();
  void Decide();
  void HoldLockName();
  void OpenFolder();
  void Timing();

 private:
  TSerialDateTime Date(const std::string& text);
  RegKey OpenKey(bool create);
  void Write(const std::string& name, RegType type, const void* data, uint32_t size);

  Win32Registry registry_;
  Win32Clock clock_;
  std::vector<std::string> words_;
  size_t at_ = 0;
};

// Every command: its name, its arguments and what it prints, and what runs it.
const struct Command {
  const char* name;
  const char* arguments;
  const char* what;
  void (Tool::*run)();
} kCommands[] = {
    {"now", "", "the present moment", &Tool::Now},
    {"put", "NAME TYPE HEX", "any type (name or number) and any bytes (\"-\" for none)",
     &Tool::Put},
    {"put-date", "NAME DATE", "an 8-byte binary double", &Tool::PutDate},
    {"put-dword", "NAME INT", "a 4-byte 32-bit integer", &Tool::PutDword},
    {"get", "NAME", "type, size and bytes, or \"absent\"", &Tool::Get},
    {"show-date", "NAME", "the value as a date: its bytes and its readable form", &Tool::ShowDate},
    {"delete", "NAME", "removes one value", &Tool::Delete},
    {"key", "", "whether the schedule key exists, with its value count", &Tool::Key},
    {"delete-key", "", "removes the schedule key tree (and its parent when empty)",
     &Tool::DeleteKey},
    {"decide", "LAST PERIOD INTERVAL PRESENT", "what the due-date rules give", &Tool::Decide},
    {"hold-lock-name", "SECONDS",
     "makes the check lock's global name first, as another account could, and holds it",
     &Tool::HoldLockName},
    {"open-folder", "FOLDER", "lets Everyone change the folder and what it holds",
     &Tool::OpenFolder},
    {"timing", "", "the program's settling ticks and tick period", &Tool::Timing},
};

void PrintUsage() {
  std::fprintf(stderr, "usage: schedule_tool COMMAND [ARGUMENT...] [COMMAND...]\n");
  for (const Command& command : kCommands) {
    std::fprintf(stderr, "  %-16s %-29s %s\n", command.name, command.arguments, command.what);
  }
}

// Closes the key it holds when it goes out of scope.
class OpenedKey {
 public:
  OpenedKey(Registry& registry, RegKey key) : registry_(registry), key_(key) {}
  ~OpenedKey() { registry_.CloseKey(key_); }
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;
  RegKey get() const { return key_; }

 private:
  Registry& registry_;
  RegKey key_;
};

std::string Status(const char* call, LONG status) {
  return std::string(call) + " failed with status " + std::to_string(status);
}

const std::string& Tool::Next(const char* what) {
  if (at_ >= words_.size()) {
    throw Failed{std::string("missing ") + what};
  }
  return words_[at_++];
}

void Tool::Now() {
  const TSerialDateTime now = CurrentDateTime(clock_);
  std::printf("now bytes %s text %s\n", HexBytes(&now, sizeof now).c_str(),
              ReadableDate(now).c_str());
}

TSerialDateTime Tool::Date(const std::string& text) {
  TSerialDateTime value = 0;
  if (!ParseDateSpec(text, CurrentDateTime(clock_), &value)) {
    throw Failed{"not a date: " + text};
  }
  return value;
}

RegKey Tool::OpenKey(bool create) {
  RegKey key = 0;
  const RegStatus status = create ? registry_.CreateKey(kRootCurrentUser, kKeyPath, &key)
                                  : registry_.OpenKey(kRootCurrentUser, kKeyPath, &key);
  if (status != kStatusSuccess) {
    throw Failed{Status(create ? "RegCreateKeyExA" : "RegOpenKeyExA", status)};
  }
  return key;
}

void Tool::Write(const std::string& name, RegType type, const void* data, uint32_t size) {
  OpenedKey key(registry_, OpenKey(true));
  const RegStatus status = registry_.SetValue(key.get(), name, type, data, size);
  if (status != kStatusSuccess) {
    throw Failed{Status("RegSetValueExA", status)};
  }
  std::printf("put %s type %u size %u bytes %s\n", name.c_str(), unsigned{type}, unsigned{size},
              HexBytes(data, size).c_str());
}

void Tool::Put() {
  const std::string name = Next("value name");
  RegType type = 0;
  std::vector<uint8_t> bytes;
  if (!ParseRegType(Next("type"), &type) || !ParseHexBytes(Next("bytes"), &bytes)) {
    throw Failed{"put needs a type and hex bytes"};
  }
  Write(name, type, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

void Tool::PutDate() {
  const std::string name = Next("value name");
  const TSerialDateTime value = Date(Next("date"));
  Write(name, kTypeBinary, &value, sizeof value);
}

void Tool::PutDword() {
  const std::string name = Next("value name");
  int32_t value = 0;
  if (!ParseInt32(Next("integer"), &value)) {
    throw Failed{"put-dword needs a 32-bit integer"};
  }
  Write(name, kTypeDword, &value, sizeof value);
}

void Tool::Get() {
  const std::string name = Next("value name");
  RegKey opened = 0;
  if (registry_.OpenKey(kRootCurrentUser, kKeyPath, &opened) != kStatusSuccess) {
    std::printf("value %s absent\n", name.c_str());
    return;
  }
  OpenedKey key(registry_, opened);
  RegType type = 0;
  uint32_t size = 0;
  RegStatus status = registry_.QueryValue(key.get(), name, &type, nullptr, &size);
  if (status == kStatusFileNotFound) {
    std::printf("value %s absent\n", name.c_str());
    return;
  }
  std::vector<uint8_t> data(size + 1);
  if (status == kStatusSuccess) {
    status = registry_.QueryValue(key.get(), name, &type, data.data(), &size);
  }
  if (status != kStatusSuccess) {
    throw Failed{Status("RegQueryValueExA", status)};
  }
  std::printf("value %s type %u size %u bytes %s\n", name.c_str(), unsigned{type}, unsigned{size},
              HexBytes(data.data(), size).c_str());
}

void Tool::ShowDate() {
  const std::string name = Next("value name");
  OpenedKey key(registry_, OpenKey(false));
  RegType type = 0;
  uint8_t bytes[sizeof(double)] = {};
  uint32_t size = sizeof bytes;
  const RegStatus status = registry_.QueryValue(key.get(), name, &type, bytes, &size);
  if (status != kStatusSuccess) {
    throw Failed{Status("RegQueryValueExA", status)};
  }
  if (type != kTypeBinary || size != sizeof bytes) {
    throw Failed{name + " is not an 8-byte binary value"};
  }
  double value;
  std::memcpy(&value, bytes, sizeof value);
  std::printf("date %s bytes %s text %s\n", name.c_str(), HexBytes(bytes, sizeof bytes).c_str(),
              ReadableDate(value).c_str());
}

void Tool::Delete() {
  const std::string name = Next("value name");
  HKEY key = nullptr;
  LONG status = RegOpenKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, KEY_ALL_ACCESS, &key);
  if (status == ERROR_SUCCESS) {
    status = RegDeleteValueA(key, name.c_str());
    RegCloseKey(key);
  }
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    throw Failed{Status("RegDeleteValueA", status)};
  }
  std::printf("deleted %s\n", name.c_str());
}

void Tool::Key() {
  HKEY key = nullptr;
  const bool parent =
      RegOpenKeyExA(HKEY_CURRENT_USER, kParentPath, 0, KEY_READ, &key) == ERROR_SUCCESS;
  if (parent) {
    RegCloseKey(key);
  }
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    std::printf("key absent parent %s\n", parent ? "present" : "absent");
    return;
  }
  DWORD subkeys = 0;
  DWORD values = 0;
  const LONG status = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                       &values, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) {
    throw Failed{Status("RegQueryInfoKeyA", status)};
  }
  std::printf("key present values %lu subkeys %lu\n", static_cast<unsigned long>(values),
              static_cast<unsigned long>(subkeys));
}

void Tool::DeleteKey() {
  LONG status = RegDeleteTreeA(HKEY_CURRENT_USER, kKeyPath);
  if (status == ERROR_SUCCESS) {
    status = RegDeleteKeyA(HKEY_CURRENT_USER, kKeyPath);
  }
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    throw Failed{Status("RegDeleteTreeA", status)};
  }
  // The parent goes too, but only when nothing else lives in it.
  HKEY parent = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kParentPath, 0, KEY_READ, &parent) == ERROR_SUCCESS) {
    DWORD subkeys = 1;
    DWORD values = 1;
    RegQueryInfoKeyA(parent, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                     nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(parent);
    if (subkeys == 0 && values == 0) {
      RegDeleteKeyA(HKEY_CURRENT_USER, kParentPath);
    }
  }
  std::printf("deleted-key\n");
}

void Tool::Decide() {
  TScheduleSettings settings{Date(Next("last date")), 0.0, 0, 0};
  if (!ParseInt32(Next("period"), &settings.BackupPeriod) ||
      !ParseInt32(Next("interval"), &settings.BackupInterval)) {
    throw Failed{"period and interval must be 32-bit integers"};
  }
  const TSerialDateTime now = Date(Next("present"));
  const DueDecision decision = autobackup::Decide(settings, now);
  if (decision.Due) {
    std::printf("decision due bytes %s text %s\n",
                HexBytes(&decision.NewLastBackupDate, sizeof(double)).c_str(),
                ReadableDate(decision.NewLastBackupDate).c_str());
  } else {
    std::printf("decision not-due\n");
  }
}

void Tool::HoldLockName() {
  int32_t seconds = 0;
  if (!ParseInt32(Next("seconds"), &seconds) || seconds < 0) {
    throw Failed{"hold-lock-name needs seconds"};
  }
  const std::string name = "Global\\" + CheckLockName();
  HANDLE mutex = CreateForeignMutex(name);
  if (mutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
    throw Failed{"could not make " + name + " first"};
  }
  std::printf("holding %s\n", name.c_str());
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(seconds) * 1000);
  CloseHandle(mutex);
}

void Tool::OpenFolder() {
  const std::string& folder = Next("folder");
  BYTE everyone[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof everyone;
  PACL list = nullptr;
  PACL opened = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  EXPLICIT_ACCESS_A entry = {};
  entry.grfAccessPermissions = GENERIC_ALL;
  entry.grfAccessMode = GRANT_ACCESS;
  entry.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entry.Trustee.ptstrName = reinterpret_cast<LPSTR>(everyone);
  LPSTR path = const_cast<LPSTR>(folder.c_str());
  if (!CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size) ||
      GetNamedSecurityInfoA(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &list, nullptr, &descriptor) != ERROR_SUCCESS ||
      SetEntriesInAclA(1, &entry, list, &opened) != ERROR_SUCCESS ||
      SetNamedSecurityInfoA(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            opened, nullptr) != ERROR_SUCCESS) {
    throw Failed{"could not open " + folder};
  }
  LocalFree(opened);
  LocalFree(descriptor);
  std::printf("opened %s\n", folder.c_str());
}

void Tool::Timing() {
  std::printf("timing settling-ticks %d tick-ms %u\n", static_cast<int>(kSettlingTicks),
              static_cast<unsigned>(kTickMilliseconds));
}

int Tool::Run(const std::vector<std::string>& words) {
  words_ = words;
  at_ = 0;
  if (words_.empty()) {
    PrintUsage();
    return 2;
  }
  try {
    while (at_ < words_.size()) {
      const std::string& name = Next("command");
      const Command* command = std::find_if(std::begin(kCommands), std::end(kCommands),
                                            [&](const Command& c) { return name == c.name; });
      if (command == std::end(kCommands)) {
        PrintUsage();
        throw Failed{"unknown command " + name};
      }
      (this->*command->run)();
      std::fflush(stdout);
    }
  } catch (const Failed& failed) {
    std::fflush(stdout);
    std::fprintf(stderr, "schedule_tool: %s\n", failed.what.c_str());
    return 2;
  } catch (const Exception& failure) {
    // The rules' own failures are an answer too: the tests may ask what a bad schedule gives.
    std::fflush(stdout);
    std::printf("failure %s %s\n", failure.TypeName(), failure.Message().c_str());
    return 3;
  }
  return 0;
}

}  // namespace
}  // namespace autobackup

int main(int argc, char** argv) {
  autobackup::LoadDefaultFpuControlWord();
  return autobackup::Tool().Run(std::vector<std::string>(argv + 1, argv + argc));
}
