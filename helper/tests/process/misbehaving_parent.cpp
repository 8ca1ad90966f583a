#include "misbehaving_parent.h"

#include <tlhelp32.h>

#include "test_windows.h"

namespace corvane::testing {

namespace {

constexpr DWORD kSceneLimitMs = 60000;

// The process ID of `parent`'s child running the helper, or 0.
DWORD helper_started_by(DWORD parent) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return 0;
  }
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  DWORD found = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && found == 0; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ParentProcessID == parent && _wcsicmp(entry.szExeFile, L"corvane_media_helper.exe") == 0) {
      found = entry.th32ProcessID;
    }
  }
  CloseHandle(snapshot);
  return found;
}

}  // namespace

MisbehavingParent::MisbehavingParent(const std::wstring& helper, const std::wstring& scenario) {
  const std::string tag = "corvane-parent-" + random_tag();
  const std::wstring wide_tag(tag.begin(), tag.end());
  ready_ = CreateEventW(nullptr, TRUE, FALSE, (L"Local\\" + wide_tag + L"-ready").c_str());
  go_ = CreateEventW(nullptr, TRUE, FALSE, (L"Local\\" + wide_tag + L"-go").c_str());
  stub_ = std::make_unique<ChildProcess>(L"parent_stub.exe", std::vector<std::wstring>{helper, scenario, wide_tag});
}

MisbehavingParent::~MisbehavingParent() {
  if (helper_ != nullptr) {
    helper_exit_code(0);
  }
  CloseHandle(ready_);
  CloseHandle(go_);
}

bool MisbehavingParent::ready() {
  if (!stub_->started()) {
    return false;
  }
  const HANDLE waits[] = {ready_, stub_->handle()};
  if (WaitForMultipleObjects(2, waits, FALSE, kSceneLimitMs) != WAIT_OBJECT_0) {
    return false;  // the stub ended (or never got there) without setting the scene
  }
  const DWORD pid = helper_started_by(stub_->pid());
  helper_ =
      pid != 0 ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid) : nullptr;
  return helper_ != nullptr;
}

void MisbehavingParent::go() { SetEvent(go_); }

std::optional<DWORD> MisbehavingParent::helper_exit_code(DWORD limit_ms) {
  if (helper_ == nullptr) {
    return std::nullopt;
  }
  std::optional<DWORD> code;
  if (WaitForSingleObject(helper_, limit_ms) == WAIT_OBJECT_0) {
    DWORD exit_code = 0;
    GetExitCodeProcess(helper_, &exit_code);
    code = exit_code;
  } else {
    TerminateProcess(helper_, 255);
    WaitForSingleObject(helper_, INFINITE);
  }
  CloseHandle(helper_);
  helper_ = nullptr;
  return code;
}

ChildOutcome MisbehavingParent::finish() {
  helper_exit_code();
  return stub_->wait();
}

}  // namespace corvane::testing
