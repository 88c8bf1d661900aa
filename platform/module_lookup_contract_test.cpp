// One set of expectations for the module lookup: against the fake everywhere, and against the
// system's own answers on Windows.
#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "testing/module_lookup_test_backends.h"

namespace autobackup {
namespace {

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
