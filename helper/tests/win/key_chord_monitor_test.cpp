// The chord monitor thread in-process: its name, and stopping it.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chord/key_chord_monitor.h"

namespace corvane::helper {
namespace {

// Descriptions of this process's threads (where the system can tell them).
std::vector<std::wstring> thread_descriptions() {
  using GetDescription = HRESULT(WINAPI*)(HANDLE, PWSTR*);
  const auto get_description = reinterpret_cast<GetDescription>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetThreadDescription")));
  std::vector<std::wstring> names;
  if (get_description == nullptr) {
    return names;
  }
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != GetCurrentProcessId()) {
      continue;
    }
    HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID);
    PWSTR name = nullptr;
    if (thread != nullptr && SUCCEEDED(get_description(thread, &name)) && name != nullptr) {
      names.emplace_back(name);
      LocalFree(name);
    }
    if (thread != nullptr) {
      CloseHandle(thread);
    }
  }
  CloseHandle(snapshot);
  return names;
}

int count_named(const std::vector<std::wstring>& names, const std::wstring& wanted) {
  int count = 0;
  for (const auto& name : names) {
    count += name == wanted ? 1 : 0;
  }
  return count;
}

TEST(KeyChordMonitorThread, IsNamedWhileItRunsAndGoneOnceStopped) {
  auto [sender, receiver] = make_event_channel<ChordTransition>();
  auto monitor = start_key_chord_monitor({0x7C}, sender);  // F13, never pressed here
  ASSERT_TRUE(monitor) << monitor.error();
  // The thread names itself as it starts: wait (bounded) until it shows.
  int named = 0;
  for (int attempt = 0; attempt < 500 && named == 0; ++attempt) {
    named = count_named(thread_descriptions(), L"corvane-global-ptt");
    if (named == 0) {
      Sleep(10);
    }
  }
  EXPECT_EQ(named, 1);
  (*monitor)->stop();
  EXPECT_EQ(count_named(thread_descriptions(), L"corvane-global-ptt"), 0);
  EXPECT_FALSE(receiver.try_receive().has_value()) << "F13 was never down";
}

TEST(KeyChordMonitorThread, RefusedChordsStartNoThread) {
  auto [sender, receiver] = make_event_channel<ChordTransition>();
  auto refused = start_key_chord_monitor({1, 2, 3, 4, 5}, sender);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error(), "a Push-to-Talk chord supports at most 4 keys");
  EXPECT_EQ(count_named(thread_descriptions(), L"corvane-global-ptt"), 0);
}

}  // namespace
}  // namespace corvane::helper
