// The back ends the registry tests run on: the fake everywhere and, on Windows, also the real
// registry, in a scratch key below HKEY_CURRENT_USER that is removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "testing/fake/fake_registry.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/win32_registry.h"
#endif

namespace autobackup {

struct FakeRegistryBackend {
  static constexpr const char* kName = "Fake";
  static constexpr bool kReal = false;
  RegKey Root() const { return kRootCurrentUser; }
  // The key (made if missing) can no longer be opened or created with full access.
  void Deny(const std::string& path) { ASSERT_EQ(registry.DenyAccess(Root(), path), 0); }
  // Writes through handles already open to the key fail from now on.
  void BreakWrites(const std::string&) { registry.FailWrites(kStatusAccessDenied); }
  std::optional<int> OpenHandles() const { return registry.OpenHandles(); }
  FakeRegistry registry;
};

#ifdef _WIN32
struct RealRegistryBackend {
  static constexpr const char* kName = "Real";
  static constexpr bool kReal = true;
  RealRegistryBackend() {
    static int made = 0;
    scratch =
        "AutoBackupTest-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++made);
    EXPECT_EQ(registry.CreateKey(kRootCurrentUser, scratch, &root), 0);
  }
  ~RealRegistryBackend() {
    for (const std::string& path : denied) {
      SetAccessList(path, nullptr);  // no list: everyone may do everything
    }
    registry.CloseKey(root);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, scratch.c_str()), ERROR_SUCCESS);
  }
  RegKey Root() const { return root; }
  // An empty access list leaves only the owner's right to change the list.
  void Deny(const std::string& path) {
    RegKey key = 0;
    ASSERT_EQ(registry.CreateKey(root, path, &key), 0);
    registry.CloseKey(key);
    ACL empty;
    ASSERT_TRUE(InitializeAcl(&empty, sizeof empty, ACL_REVISION));
    SetAccessList(path, &empty);
    denied.push_back(path);
  }
  // Every handle to a deleted key fails its writes.
  void BreakWrites(const std::string& path) {
    ASSERT_EQ(RegDeleteTreeA(reinterpret_cast<HKEY>(root), path.c_str()), ERROR_SUCCESS);
  }
  std::optional<int> OpenHandles() const { return std::nullopt; }
  void SetAccessList(const std::string& path, ACL* list) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(reinterpret_cast<HKEY>(root), path.c_str(), 0, WRITE_DAC, &key), 0);
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE);
    EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor), 0);
    RegCloseKey(key);
  }

  Win32Registry registry;
  std::string scratch;
  RegKey root = 0;
  std::vector<std::string> denied;
};
#endif

using RegistryBackends = ::testing::Types<FakeRegistryBackend
#ifdef _WIN32
                                          ,
                                          RealRegistryBackend
#endif
                                          >;

struct BackendName {
  template <class Backend>
  static std::string GetName(int) {
    return Backend::kName;
  }
};

}  // namespace autobackup
