// The enumeration in-process: this process's own windows are never listed, other processes' are.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "test_windows.h"
#include "windows/capture/list_capture_sources.h"

namespace corvane::helper {
namespace {

TEST(CaptureEnumeration, OwnWindowsAreLeftOutOtherProcessesWindowsAreListed) {
  const std::string tag = corvane::testing::random_tag();
  const std::wstring own_title = L"own window " + std::wstring(tag.begin(), tag.end());
  HWND own = CreateWindowExW(0, L"STATIC", own_title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100, nullptr,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(own, nullptr);
  corvane::testing::TestWindows other({"other window " + tag});
  ASSERT_TRUE(other.ready()) << other.failure();

  const auto list = list_capture_sources();
  ASSERT_TRUE(list) << list.error();
  auto listed = [&](const std::string& id) {
    return std::any_of(list->begin(), list->end(), [&](const protocol::CaptureSource& s) { return s.id == id; });
  };
  EXPECT_FALSE(listed("window:" + std::to_string(reinterpret_cast<std::uintptr_t>(own))));
  EXPECT_TRUE(listed(other.id(0)));
  DestroyWindow(own);
}

}  // namespace
}  // namespace corvane::helper
