#include "test_windows.h"

#include <filesystem>
#include <fstream>
#include <random>

namespace corvane::testing {

std::string random_tag() {
  std::random_device device;
  std::mt19937 generator(device() ^ GetCurrentProcessId() ^ static_cast<unsigned>(GetTickCount64()));
  static constexpr char kLetters[] = "bcdfghjkmnpqrstvwxz";
  std::string tag;
  for (int i = 0; i < 8; ++i) {
    tag.push_back(kLetters[generator() % (sizeof kLetters - 1)]);
  }
  return tag;
}

TestWindows::TestWindows(const std::vector<std::string>& titles) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::string tag = random_tag();
  directory_ = std::wstring(temp) + L"corvane-windows-" + std::wstring(tag.begin(), tag.end());
  CreateDirectoryW(directory_.c_str(), nullptr);
  const std::wstring titles_file = directory_ + L"\\titles.txt";
  const std::wstring handles_file = directory_ + L"\\handles.txt";
  {
    std::ofstream out(std::filesystem::path(titles_file), std::ios::binary | std::ios::trunc);
    for (const auto& title : titles) {
      out << title << "\n";
    }
  }
  const std::wstring ready_name = L"Local\\corvane-test-ready-" + std::wstring(tag.begin(), tag.end());
  const std::wstring quit_name = L"Local\\corvane-test-quit-" + std::wstring(tag.begin(), tag.end());
  ready_event_ = CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str());
  quit_event_ = CreateEventW(nullptr, TRUE, FALSE, quit_name.c_str());
  stub_ = std::make_unique<ChildProcess>(L"window_stub.exe",
                                         std::vector<std::wstring>{titles_file, handles_file, ready_name, quit_name});
  if (!stub_->started()) {
    failure_ = stub_->start_error();
    return;
  }
  // Bounded: the stub signals readiness or ends (a failure), well within a minute.
  HANDLE waits[] = {ready_event_, stub_->handle()};
  const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, 60000);
  if (woke != WAIT_OBJECT_0) {
    failure_ = "window_stub did not get ready";
    return;
  }
  std::ifstream in(std::filesystem::path(handles_file), std::ios::binary);
  std::uint64_t handle = 0;
  while (in >> handle) {
    handles_.push_back(handle);
  }
  ready_ = handles_.size() == titles.size();
  if (!ready_) {
    failure_ = "window_stub reported " + std::to_string(handles_.size()) + " windows";
  }
}

TestWindows::~TestWindows() {
  if (quit_event_ != nullptr) {
    SetEvent(quit_event_);
  }
  if (stub_) {
    stub_->wait();
  }
  CloseHandle(ready_event_);
  CloseHandle(quit_event_);
  DeleteFileW((directory_ + L"\\titles.txt").c_str());
  DeleteFileW((directory_ + L"\\handles.txt").c_str());
  RemoveDirectoryW(directory_.c_str());
}

}  // namespace corvane::testing
