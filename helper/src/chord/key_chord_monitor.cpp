#include "chord/key_chord_monitor.h"

#include <windows.h>

#include "platform/os_error.h"
#include "platform/precise_wait.h"

namespace corvane::helper {

// Shared by the thread and the handle; the handle only ever touches the stop flag.
struct ChordMonitorState {
  ChordMonitorState(std::vector<std::uint32_t> chord, EventSender<ChordTransition> events)
      : keys(std::move(chord)), sender(std::move(events)) {}
  std::atomic<bool> stop{false};
  const std::vector<std::uint32_t> keys;
  const EventSender<ChordTransition> sender;
};

namespace {

// The real keyboard, clock and timer.
class SystemKeyStateClock final : public KeyStateClock {
 public:
  bool key_down(std::uint32_t virtual_key) override {
    return (static_cast<unsigned short>(GetAsyncKeyState(static_cast<int>(virtual_key))) & 0x8000U) != 0;
  }

  std::uint64_t now_unix_ms() override {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    return filetime_to_unix_ms((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
  }

  void wait_period() override { wait_.wait(std::chrono::milliseconds(8)); }

 private:
  PreciseWait wait_;
};

// Names the calling thread where the system offers SetThreadDescription (Windows 10 1607 and later).
void name_this_thread(const wchar_t* name) {
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto set_description = reinterpret_cast<SetDescription>(
      reinterpret_cast<void*>(kernel != nullptr ? GetProcAddress(kernel, "SetThreadDescription") : nullptr));
  if (set_description != nullptr) {
    set_description(GetCurrentThread(), name);
  }
}

DWORD WINAPI monitor_thread(void* parameter) {
  // The thread holds its own reference: the shared state outlives the handle if need be.
  auto* owned = static_cast<std::shared_ptr<ChordMonitorState>*>(parameter);
  const std::shared_ptr<ChordMonitorState> state = std::move(*owned);
  delete owned;
  name_this_thread(L"corvane-global-ptt");
  SystemKeyStateClock keyboard;
  run_chord_poll(state->keys, state->stop, state->sender, keyboard);
  return 0;
}

}  // namespace

void KeyChordMonitor::stop() {
  if (thread_) {
    state_->stop.store(true);
    WaitForSingleObject(thread_.get(), INFINITE);
    thread_.reset();
  }
}

Result<std::unique_ptr<ChordMonitorHandle>> start_key_chord_monitor(std::vector<std::uint32_t> keys,
                                                                    EventSender<ChordTransition> sender) {
  auto chord = normalize_chord(std::move(keys));
  if (!chord) {
    return fail(chord.error());
  }
  std::unique_ptr<KeyChordMonitor> monitor(
      new KeyChordMonitor(std::make_shared<ChordMonitorState>(std::move(chord).value(), std::move(sender))));
  auto* parameter = new std::shared_ptr<ChordMonitorState>(monitor->state_);
  monitor->thread_.reset(CreateThread(nullptr, 0, monitor_thread, parameter, 0, nullptr));
  if (!monitor->thread_) {
    const std::string error = "start PTT monitor: " + last_error_text();
    delete parameter;
    return fail(error);
  }
  return std::unique_ptr<ChordMonitorHandle>(std::move(monitor));
}

}  // namespace corvane::helper
