#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "child_process.h"
#include "host_session.h"
#include "input_sink.h"

namespace corvane::testing {

namespace {

constexpr DWORD kGuardMs = 10000;  // a guard against a hung sink, never a pass condition

SinkRecord Decode(std::int64_t encoded) {
  SinkRecord record{static_cast<SinkEvent>(static_cast<std::uint64_t>(encoded) >> 56), 0};
  std::int64_t value = encoded & 0x00FFFFFFFFFFFFFF;
  if ((value & 0x0080000000000000) != 0) {
    value -= 0x0100000000000000;  // the value's sign, kept below the kind
  }
  record.value = value;
  if (record.kind == SinkEvent::kKeyDown || record.kind == SinkEvent::kKeyUp) {
    record.value = value & 0xFFFF;
    record.scan = static_cast<std::uint8_t>((value >> 16) & 0xFF);
    record.extended = ((value >> 24) & 1) != 0;
  }
  if (record.kind == SinkEvent::kMove) {
    record.x = static_cast<std::int32_t>(value >> 25) - 0x1000000;
    record.y = static_cast<std::int32_t>(value & 0x1FFFFFF) - 0x1000000;
    record.value = 0;
  }
  return record;
}

}  // namespace

InputSink::InputSink() {
  const std::wstring suffix = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64());
  const std::wstring ready_name = L"CorvaneSinkReady-" + suffix;
  const std::wstring changed_name = L"CorvaneSinkChanged-" + suffix;
  ready_event_.Reset(CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str()));
  changed_event_.Reset(CreateEventW(nullptr, FALSE, FALSE, changed_name.c_str()));
  process_ = std::make_unique<ChildProcess>(L"input_sink.exe", std::vector<std::wstring>{ready_name, changed_name});
  if (!process_->started()) {
    error_ = "input_sink.exe did not start: " + process_->start_error();
    return;
  }
  HANDLE waits[] = {ready_event_.Get(), process_->handle()};
  if (WaitForMultipleObjects(2, waits, FALSE, kGuardMs) != WAIT_OBJECT_0) {
    error_ = "the sink did not become ready";
    return;
  }
  window_ = WindowOfProcess(process_->pid(), kSinkClass);
  if (window_ == nullptr) {
    error_ = "the sink's window was not found";
  }
}

InputSink::~InputSink() {
  if (window_ != nullptr) {
    SendMessageTimeoutW(window_, kSinkQuit, 0, 0, SMTO_ABORTIFHUNG, kGuardMs, nullptr);
  }
  if (process_) {
    process_->wait(kGuardMs);
  }
}

std::vector<SinkRecord> InputSink::EventsThrough(SinkEvent kind, std::optional<std::int64_t> value) {
  const ULONGLONG deadline = GetTickCount64() + kGuardMs;
  std::vector<SinkRecord> records;
  for (;;) {
    const auto logged = static_cast<std::size_t>(SendMessageW(window_, kSinkCount, 0, 0));
    for (std::size_t i = records.size(); i < logged; ++i) {
      records.push_back(Decode(static_cast<std::int64_t>(SendMessageW(window_, kSinkEvent, i, 0))));
    }
    const bool found = std::any_of(records.begin(), records.end(), [&](const SinkRecord& record) {
      return record.kind == kind && (!value || record.value == *value);
    });
    if (found || GetTickCount64() > deadline) {
      return records;
    }
    WaitForSingleObject(changed_event_.Get(), 100);
  }
}

std::vector<int> InputSink::KeysDown() const {
  std::vector<int> down;
  for (WPARAM block = 0; block < 4; ++block) {
    const auto mask = static_cast<std::uint64_t>(SendMessageW(window_, kSinkKeysDown, block, 0));
    for (int bit = 0; bit < 64; ++bit) {
      if ((mask >> bit & 1) != 0) {
        down.push_back(static_cast<int>(block) * 64 + bit);
      }
    }
  }
  return down;
}

}  // namespace corvane::testing
