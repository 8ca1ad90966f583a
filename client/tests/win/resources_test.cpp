// The host executable carries its icon (101), version information and manifest.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "base/handles.h"

namespace {

// corvane_client.exe beside this test, loaded as data only.
class HostResources : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring host(path);
    host.resize(host.find_last_of(L'\\') + 1);
    host += L"corvane_client.exe";
    module_.Reset(LoadLibraryExW(host.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(module_) << "cannot load " << host;
  }
  std::string_view Resource(LPCWSTR name, LPCWSTR type) const {
    HRSRC found = FindResourceW(module_.Get(), name, type);
    if (found == nullptr) {
      return {};
    }
    HGLOBAL loaded = LoadResource(module_.Get(), found);
    return {static_cast<const char*>(LockResource(loaded)), SizeofResource(module_.Get(), found)};
  }

  corvane::client::UniqueModule module_;
};

TEST_F(HostResources, TheWindowIconIsResource101) {
  EXPECT_FALSE(Resource(MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(14)).empty()) << "no icon group 101";  // RT_GROUP_ICON
}

TEST_F(HostResources, TheManifestDeclaresWindows10AndPerMonitorDpiAwareness) {
  const std::string_view manifest = Resource(MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string_view::npos) << "Windows 10";
  EXPECT_NE(manifest.find("PerMonitorV2"), std::string_view::npos);
}

TEST_F(HostResources, VersionInformationNamesTheProduct) {
  const std::string_view version = Resource(MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));  // RT_VERSION
  ASSERT_FALSE(version.empty());
  const std::wstring_view wide(reinterpret_cast<const wchar_t*>(version.data()), version.size() / sizeof(wchar_t));
  EXPECT_NE(wide.find(L"VS_VERSION_INFO"), std::wstring_view::npos);
  EXPECT_NE(wide.find(L"corvane_client.exe"), std::wstring_view::npos);
}

}  // namespace
