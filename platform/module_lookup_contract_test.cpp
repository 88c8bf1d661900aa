// One set of expectations for the module lookup: against the fake everywhere, and against the
// system's own answers on Windows.
#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "platform/module_lookup.h"
#include "testing/fake/fake_module_lookup.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/win32_module_lookup.h"
#endif

namespace autobackup {
namespace {

// A system library and an address in its code.
struct Library {
  uintptr_t base;
  uintptr_t code;
  std::string name;
};

// A lookup and the addresses it is asked about, with what they are known to be.
struct Subject {
  std::unique_ptr<ModuleLookup> lookup;
  uintptr_t own_base;  // Load address of this test program.
  uintptr_t own_code;  // An address in this test program's code.
  std::vector<Library> system;
  uintptr_t heap;  // Committed memory of no module.
  std::shared_ptr<void> keep_alive;
};

const char kTestFileName[] = "module_lookup_contract_test.exe";

Subject MakeFake() {
  std::string own_path = std::string("C:\\build\\platform\\") + kTestFileName;
  auto fake = std::make_unique<FakeModuleLookup>(own_path);
  fake->AddModule(0x00400000, 0x80000, own_path);
  fake->AddModule(0x7B400000, 0x200000, "C:\\windows\\system32\\ntdll.dll");
  fake->AddModule(0x7B600000, 0x100000, "C:\\windows\\system32\\kernel32.dll");
  fake->AddMemory(0x01000000, 0x100000);
  return {std::move(fake),
          0x00400000,
          0x00401500,
          {{0x7B400000, 0x7B412345, "ntdll.dll"}, {0x7B600000, 0x7B61A4E0, "kernel32.dll"}},
          0x01000040,
          nullptr};
}

#ifdef _WIN32
Subject MakeWin32() {
  HMODULE own = GetModuleHandleA(nullptr);
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  auto address = [](auto pointer) { return reinterpret_cast<uintptr_t>(pointer); };
  auto heap = std::make_shared<std::vector<char>>(64);
  // Functions each library implements itself rather than forwards elsewhere.
  return {std::make_unique<Win32ModuleLookup>(),
          address(own),
          address(&MakeWin32),
          {{address(ntdll), address(GetProcAddress(ntdll, "NtClose")), "ntdll.dll"},
           {address(kernel32), address(GetProcAddress(kernel32, "WinExec")), "kernel32.dll"}},
          address(heap->data()),
          heap};
}
#endif

std::string FileNameOf(const std::string& path) {
  std::string name = path.substr(path.rfind('\\') + 1);
  for (char& c : name) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return name;
}

class ModuleLookupContract : public testing::TestWithParam<Subject (*)()> {
 protected:
  Subject subject_ = GetParam()();
  ModuleLookup& lookup_ = *subject_.lookup;
};

TEST_P(ModuleLookupContract, OwnCodeLiesInTheProgramsOwnImage) {
  TMemoryRegion region = lookup_.QueryRegion(subject_.own_code);
  EXPECT_TRUE(region.Committed);
  EXPECT_EQ(region.AllocationBase, subject_.own_base);
  std::string path = lookup_.ModuleFileName(region.AllocationBase);
  EXPECT_EQ(FileNameOf(path), kTestFileName) << path;
  EXPECT_EQ(path, lookup_.ProgramFileName());
}

TEST_P(ModuleLookupContract, AddressInASystemLibraryNamesThatLibrary) {
  for (const Library& library : subject_.system) {
    ASSERT_NE(library.code, 0u) << library.name;
    TMemoryRegion region = lookup_.QueryRegion(library.code);
    EXPECT_TRUE(region.Committed) << library.name;
    EXPECT_EQ(region.AllocationBase, library.base) << library.name;
    EXPECT_GT(library.code, region.AllocationBase) << library.name;
    std::string path = lookup_.ModuleFileName(region.AllocationBase);
    EXPECT_EQ(FileNameOf(path), library.name) << path;
    EXPECT_NE(path.find('\\'), std::string::npos) << "a full path: " << path;
  }
}

TEST_P(ModuleLookupContract, NullAddressIsNotCommitted) {
  EXPECT_FALSE(lookup_.QueryRegion(0).Committed);
  // And a null base names no module, not the program.
  EXPECT_EQ(lookup_.ModuleFileName(0), "");
}

TEST_P(ModuleLookupContract, HeapIsCommittedButNoModule) {
  TMemoryRegion region = lookup_.QueryRegion(subject_.heap);
  EXPECT_TRUE(region.Committed);
  EXPECT_EQ(lookup_.ModuleFileName(region.AllocationBase), "");
}

TEST_P(ModuleLookupContract, AddressInsideAnImageIsNoLoadAddress) {
  EXPECT_EQ(lookup_.ModuleFileName(subject_.own_base + 0x10), "");
  EXPECT_EQ(lookup_.ModuleFileName(subject_.own_code), "");
}

#ifdef _WIN32
INSTANTIATE_TEST_SUITE_P(System, ModuleLookupContract, testing::Values(&MakeWin32));
#endif
INSTANTIATE_TEST_SUITE_P(Fake, ModuleLookupContract, testing::Values(&MakeFake));

}  // namespace
}  // namespace autobackup
