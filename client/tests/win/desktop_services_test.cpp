// DesktopServices in-process, played as the application plays it through its channel, with the environment
// in place: SendInput recorded, the fake bus driver, a driven clock, and a real window whose messages
// (the release timer, the hot key) reach the services as the host window's do.
#include <windows.h>

#include <shlobj.h>

#include <flutter/binary_messenger.h>
#include <flutter/method_call.h>
#include <flutter/standard_method_codec.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "fake_bus_driver.h"
#include "fake_gamepad_api.h"
#include "services/desktop_services.h"

namespace corvane::client {
namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;
using testing::FakeBusDriver;

// What the recording SendInput saw; a plain function pointer cannot capture, hence one global.
struct SentInput {
  std::vector<std::vector<INPUT>> batches;
  int size = 0;
};
SentInput* g_sent = nullptr;

std::vector<FLASHWINFO>* g_flashes = nullptr;

BOOL RecordingFlashWindow(PFLASHWINFO flash) {
  g_flashes->push_back(*flash);
  return FALSE;
}

UINT RecordingSendInput(UINT count, LPINPUT inputs, int size) {
  g_sent->size = size;
  g_sent->batches.emplace_back(inputs, inputs + count);
  return count;
}

// MapVirtualKeyW as a US keyboard answers it for Left and A; an unexpected question answers 0xFFFF,
// which shows up as a wrong scan code.
UINT ScanCodes(UINT code, UINT map_type) {
  if (map_type != MAPVK_VK_TO_VSC) {
    return 0xFFFF;
  }
  switch (code) {
    case VK_LEFT:
      return 0x4B;
    case 'A':
      return 0x1E;
    default:
      return 0;
  }
}

// The Ctrl+Alt+F12 combinations the host registers: none, Shift, a Windows key, both on top.
constexpr UINT kChordExtras[] = {0, MOD_SHIFT, MOD_WIN, MOD_SHIFT | MOD_WIN};

// How many of those combinations some window holds now: another window cannot register them.
int TakenChords(HWND probe) {
  int taken = 0;
  for (const UINT extra : kChordExtras) {
    if (RegisterHotKey(probe, 0x0100, MOD_CONTROL | MOD_ALT | MOD_NOREPEAT | extra, VK_F12)) {
      UnregisterHotKey(probe, 0x0100);
    } else {
      ++taken;
    }
  }
  return taken;
}

// The application's side of the messenger: calls the channel handler, keeps what the host sends.
class Application : public flutter::BinaryMessenger {
 public:
  void Send(const std::string& channel, const uint8_t* message, size_t size, flutter::BinaryReply) const override {
    sent.emplace_back(channel, std::vector<uint8_t>(message, message + size));
  }
  void SetMessageHandler(const std::string& channel, flutter::BinaryMessageHandler handler) override {
    if (channel == "corvane/remote_input") {
      handler_ = std::move(handler);
    }
  }

  // The answer to `method` with `arguments`, as "success", "success true" or "error CODE message".
  std::string Call(const std::string& method, EncodableMap arguments) {
    const flutter::MethodCall<EncodableValue> call(method, std::make_unique<EncodableValue>(std::move(arguments)));
    const auto message = flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(call);
    std::string answer = "no answer";
    last_value = EncodableValue();
    handler_(message->data(), message->size(), [this, &answer](const uint8_t* reply, size_t size) {
      struct Decoder : flutter::MethodResult<EncodableValue> {
        std::string& out;
        EncodableValue& out_value;
        Decoder(std::string& text, EncodableValue& value) : out(text), out_value(value) {}
        void SuccessInternal(const EncodableValue* value) override {
          const bool* flag = value != nullptr ? std::get_if<bool>(value) : nullptr;
          out = flag == nullptr ? "success" : (*flag ? "success true" : "success false");
          out_value = value != nullptr ? *value : EncodableValue();
        }
        void ErrorInternal(const std::string& code, const std::string& text, const EncodableValue*) override {
          out = "error " + code + " " + text;
        }
        void NotImplementedInternal() override { out = "not implemented"; }
      } decoder(answer, last_value);
      if (size == 0) {
        answer = "not implemented";
      } else if (!flutter::StandardMethodCodec::GetInstance().DecodeAndProcessResponseEnvelope(reply, size, &decoder)) {
        answer = "malformed";
      }
    });
    return answer;
  }

  // Whether a handler still takes the remote-input channel's calls.
  bool Serves() const { return handler_ != nullptr; }

  // The value of the last successful answer (null when it had none).
  EncodableValue last_value;

  // The methods the host sent on `channel`, in order.
  std::vector<std::string> MethodsSent(const std::string& channel) const {
    std::vector<std::string> methods;
    for (const auto& [name, bytes] : sent) {
      if (name == channel) {
        const auto call = flutter::StandardMethodCodec::GetInstance().DecodeMethodCall(bytes);
        methods.push_back(call != nullptr ? call->method_name() : "<undecodable>");
      }
    }
    return methods;
  }

  mutable std::vector<std::pair<std::string, std::vector<uint8_t>>> sent;

 private:
  flutter::BinaryMessageHandler handler_;
};

// A consent was given; the hot-key flag depends on whether another test holds Ctrl+Alt+F12 now.
bool Consented(const std::string& answer) { return answer == "success true" || answer == "success false"; }

EncodableMap Event(const char* session, std::initializer_list<std::pair<const char*, EncodableValue>> fields) {
  EncodableMap map{{EncodableValue("sessionId"), EncodableValue(session)}};
  for (const auto& [key, value] : fields) {
    map.insert_or_assign(EncodableValue(key), value);
  }
  return map;
}

// A "gamepad" input event of `session` with `buttons` pressed and everything else at rest.
EncodableMap GamepadReport(const char* session, int buttons) {
  return Event(session, {{"type", EncodableValue("gamepad")},
                         {"buttons", EncodableValue(buttons)},
                         {"lt", EncodableValue(0)},
                         {"rt", EncodableValue(0)},
                         {"lx", EncodableValue(0)},
                         {"ly", EncodableValue(0)},
                         {"rx", EncodableValue(0)},
                         {"ry", EncodableValue(0)}});
}

class DesktopServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_sent = &sent_;
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = [](HWND window, UINT message, WPARAM wparam, LPARAM lparam) -> LRESULT {
      auto* services = reinterpret_cast<DesktopServices*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      if (services != nullptr && services->HandleWindowMessage(message, wparam, lparam)) {
        return 0;
      }
      return DefWindowProcW(window, message, wparam, lparam);
    };
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"CorvaneDesktopServicesTest";
    RegisterClassExW(&window_class);
    window_ = CreateWindowExW(0, L"CorvaneDesktopServicesTest", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window_, nullptr);
    probe_ = CreateWindowExW(0, L"CorvaneDesktopServicesTest", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(probe_, nullptr);
    driver_.AddInterface();
    DesktopServicesEnvironment environment;
    environment.send_input = RecordingSendInput;
    environment.map_virtual_key = ScanCodes;
    environment.flash_window = RecordingFlashWindow;
    g_flashes = &flashes_;
    environment.now_ms = [this] { return now_ms_; };
    environment.bus_io = driver_.Seam();
    services_ = std::make_unique<DesktopServices>(&application_, window_, std::move(environment));
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(services_.get()));
  }
  void TearDown() override {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    services_.reset();
    DestroyWindow(window_);
    DestroyWindow(probe_);
    g_sent = nullptr;
    g_flashes = nullptr;
  }

  // Dispatches this thread's messages until `done` holds; false after 10 s (a guard, never the point).
  template <typename Condition>
  bool PumpUntil(Condition done) {
    const ULONGLONG deadline = GetTickCount64() + 10000;
    while (!done()) {
      if (GetTickCount64() > deadline) {
        return false;
      }
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
      }
    }
    return true;
  }

  std::vector<GamepadState> Reports() const {
    const auto plugged = driver_.Plugged();
    return plugged.empty() ? std::vector<GamepadState>{} : driver_.Reports(*plugged.begin());
  }

  SentInput sent_;
  std::vector<FLASHWINFO> flashes_;
  FakeBusDriver driver_;
  Application application_;
  std::uint64_t now_ms_ = 1000;
  HWND window_ = nullptr;
  HWND probe_ = nullptr;  // a window of our own that tries the emergency chords
  std::unique_ptr<DesktopServices> services_;
};

TEST_F(DesktopServicesTest, KeyAndTextEventsBecomeExactlyTheseInputRecords) {
  ASSERT_TRUE(Consented(application_.Call("authorize", Event("S", {}))));
  const auto key = [this](int code, bool down) {
    return application_.Call(
        "input",
        Event("S", {{"type", EncodableValue("key")}, {"key", EncodableValue(code)}, {"down", EncodableValue(down)}}));
  };
  ASSERT_EQ(key('A', true), "success");
  ASSERT_EQ(
      application_.Call("input", Event("S", {{"type", EncodableValue("text")}, {"text", EncodableValue("\xC3\xA9")}})),
      "success");
  ASSERT_EQ(key(VK_LEFT, true), "success");
  ASSERT_EQ(key(VK_LEFT, false), "success");
  ASSERT_EQ(key(VK_LEFT, true), "success");
  ASSERT_EQ(sent_.batches.size(), 5u);
  EXPECT_EQ(sent_.size, static_cast<int>(sizeof(INPUT)));
  const INPUT& a = sent_.batches[0].at(0);
  EXPECT_EQ(a.type, static_cast<DWORD>(INPUT_KEYBOARD));
  EXPECT_EQ(a.ki.wVk, 'A');
  EXPECT_EQ(a.ki.wScan, 0x1E);
  EXPECT_EQ(a.ki.dwFlags, 0u);
  EXPECT_EQ(a.ki.time, 0u);
  EXPECT_EQ(a.ki.dwExtraInfo, 0u);
  ASSERT_EQ(sent_.batches[1].size(), 2u);
  EXPECT_EQ(sent_.batches[1][0].ki.wScan, 0x00E9);
  EXPECT_EQ(sent_.batches[1][0].ki.dwFlags, static_cast<DWORD>(KEYEVENTF_UNICODE));
  EXPECT_EQ(sent_.batches[1][1].ki.dwFlags, static_cast<DWORD>(KEYEVENTF_UNICODE | KEYEVENTF_KEYUP));
  // Left is a navigation key: extended, so that it does not read as the keypad's 4.
  EXPECT_EQ(sent_.batches[2].at(0).ki.wVk, VK_LEFT);
  EXPECT_EQ(sent_.batches[2].at(0).ki.wScan, 0x4B);
  EXPECT_EQ(sent_.batches[2].at(0).ki.dwFlags, static_cast<DWORD>(KEYEVENTF_EXTENDEDKEY));
  EXPECT_EQ(sent_.batches[3].at(0).ki.dwFlags, static_cast<DWORD>(KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP));
  // Revoking lets the held keys go, as keys with their scan codes.
  ASSERT_EQ(application_.Call("revoke", {}), "success");
  ASSERT_EQ(sent_.batches.size(), 6u);
  ASSERT_EQ(sent_.batches[5].size(), 2u);
  EXPECT_EQ(sent_.batches[5][0].ki.wVk, VK_LEFT);
  EXPECT_EQ(sent_.batches[5][0].ki.wScan, 0x4B);
  EXPECT_EQ(sent_.batches[5][0].ki.dwFlags, static_cast<DWORD>(KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP));
  EXPECT_EQ(sent_.batches[5][1].ki.wVk, 'A');
  EXPECT_EQ(sent_.batches[5][1].ki.wScan, 0x1E);
  EXPECT_EQ(sent_.batches[5][1].ki.dwFlags, static_cast<DWORD>(KEYEVENTF_KEYUP));
}

TEST_F(DesktopServicesTest, EveryEmergencyChordIsHeldDuringAConsentAndLetGoWhenItEnds) {
  ASSERT_EQ(TakenChords(probe_), 0);
  const std::vector<std::pair<const char*, std::function<void()>>> endings = {
      {"revoke",
       [this] {
         application_.Call("revoke", {{EncodableValue("sessionId"), EncodableValue("S")}});
       }},
      {"desktop suspend",
       [this] {
         application_.Call("suspend", {{EncodableValue("sessionId"), EncodableValue("S")}});
       }},
      {"emergency stop",
       [this] {
         PostMessageW(window_, WM_HOTKEY, EmergencyShiftHotKeyId, 0);
         PumpUntil([this] { return !application_.sent.empty(); });
       }},
      {"failed gamepad consent",
       [this] {
         driver_.SetReportError(ERROR_GEN_FAILURE);  // the attach's neutral report is not taken
         EXPECT_EQ(application_.Call("authorize", Event("G", {{"mode", EncodableValue("gamepad")}})),
                   "error GAMEPAD_NOT_READY Enable the bundled gamepad driver first. No virtual controller was "
                   "attached.");
         driver_.SetReportError(ERROR_SUCCESS);
       }},
      {"teardown",
       [this] {
         SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
         services_.reset();
       }},
  };
  for (const auto& [name, end] : endings) {
    SCOPED_TRACE(name);
    ASSERT_EQ(application_.Call("authorize", Event("S", {})), "success true");
    EXPECT_EQ(TakenChords(probe_), 4);
    end();
    EXPECT_EQ(TakenChords(probe_), 0);
  }
}

TEST_F(DesktopServicesTest, EachEmergencyChordsHotKeyEndsTheConsentAndNoOtherIdentifierIsTaken) {
  // The identifiers beside the chords' own: the release timer's, and the next one after them.
  for (const int other : {EmergencyHotKeyId - 1, ReleaseTimerId, EmergencyShiftWindowsHotKeyId + 1}) {
    ASSERT_EQ(application_.Call("authorize", Event("S", {})), "success true");
    EXPECT_FALSE(services_->HandleWindowMessage(WM_HOTKEY, static_cast<WPARAM>(other), 0)) << other;
    EXPECT_EQ(application_.Call("input", Event("S", {{"type", EncodableValue("key")}, {"key", EncodableValue(0x41)}})),
              "success")
        << other;
  }
  EXPECT_TRUE(application_.sent.empty());
  for (const int chord :
       {EmergencyHotKeyId, EmergencyShiftHotKeyId, EmergencyWindowsHotKeyId, EmergencyShiftWindowsHotKeyId}) {
    ASSERT_EQ(application_.Call("authorize", Event("S", {})), "success true");
    EXPECT_TRUE(services_->HandleWindowMessage(WM_HOTKEY, static_cast<WPARAM>(chord), 0)) << chord;
    EXPECT_EQ(application_.Call("input", Event("S", {{"type", EncodableValue("key")}, {"key", EncodableValue(0x41)}})),
              "error NOT_AUTHORIZED No local approval")
        << chord;
  }
  EXPECT_EQ(application_.MethodsSent("corvane/remote_input"),
            (std::vector<std::string>{"emergencyStop", "emergencyStop", "emergencyStop", "emergencyStop"}));
}

TEST_F(DesktopServicesTest, OnlyTheReleaseTimerReachesTheWatchdog) {
  ASSERT_TRUE(Consented(application_.Call("authorize", Event("G", {{"mode", EncodableValue("gamepad")}}))));
  ASSERT_EQ(application_.Call("input", GamepadReport("G", 0x1000)), "success");
  ASSERT_EQ(Reports().size(), 2u);  // the neutral report of the attach, then A
  now_ms_ += 501;
  // Another timer of the window is not the release timer.
  for (const int other : {EmergencyHotKeyId, ReleaseTimerId + 1}) {
    EXPECT_FALSE(services_->HandleWindowMessage(WM_TIMER, static_cast<WPARAM>(other), 0)) << other;
  }
  EXPECT_EQ(Reports().size(), 2u) << "another timer ran the watchdog";
  // The real 100 ms timer of the window fires and its message reaches the services.
  ASSERT_TRUE(PumpUntil([this] { return Reports().size() == 3u; }));
  EXPECT_EQ(Reports().back(), GamepadState{});
}

TEST_F(DesktopServicesTest, TheEmergencyHotKeyMessageReleasesTheControllerAndTellsTheApplication) {
  ASSERT_TRUE(Consented(application_.Call("authorize", Event("G", {{"mode", EncodableValue("gamepad")}}))));
  ASSERT_EQ(driver_.Plugged().size(), 1u);
  PostMessageW(window_, WM_HOTKEY, EmergencyHotKeyId, 0);
  ASSERT_TRUE(PumpUntil([this] { return !application_.sent.empty(); }));
  EXPECT_TRUE(driver_.Plugged().empty());
  ASSERT_EQ(application_.sent.size(), 1u);
  EXPECT_EQ(application_.sent[0].first, "corvane/remote_input");
  const auto call = flutter::StandardMethodCodec::GetInstance().DecodeMethodCall(application_.sent[0].second);
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->method_name(), "emergencyStop");
  EXPECT_EQ(*call->arguments(), EncodableValue("G"));
  EXPECT_EQ(application_.Call("input", Event("G", {{"type", EncodableValue("gamepad")}})),
            "error NOT_AUTHORIZED No local approval");
}

// A report the driver does not take is lost input, whatever the driver's error: the application hears
// of it, and a consent whose controller does not take its neutral report is not given.
TEST_F(DesktopServicesTest, AReportTheDriverDoesNotTakeIsAnsweredAsBlocked) {
  const EncodableMap report = GamepadReport("G", 0x1000);
  ASSERT_TRUE(Consented(application_.Call("authorize", Event("G", {{"mode", EncodableValue("gamepad")}}))));
  driver_.SetReportError(ERROR_GEN_FAILURE);
  EXPECT_EQ(application_.Call("input", report), "error INPUT_BLOCKED Windows refused input or command is invalid");
  // The bus device went away: the renewal's neutral report fails.
  driver_.SetReportError(ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(application_.Call("authorize", Event("G", {{"mode", EncodableValue("gamepad")}})),
            "error GAMEPAD_NOT_READY Virtual controller disconnected.");
  EXPECT_TRUE(driver_.Plugged().empty());
  EXPECT_EQ(application_.Call("authorize", Event("G", {{"mode", EncodableValue("gamepad")}})),
            "error GAMEPAD_NOT_READY Enable the bundled gamepad driver first. No virtual controller was attached.");
  EXPECT_TRUE(driver_.Plugged().empty());
  EXPECT_EQ(application_.Call("input", report), "error NOT_AUTHORIZED No local approval");
  EXPECT_TRUE(driver_.Faults().empty()) << driver_.Faults().front();
}

TEST_F(DesktopServicesTest, TeardownReleasesWhatIsHeld) {
  ASSERT_TRUE(Consented(application_.Call("authorize", Event("S", {}))));
  ASSERT_EQ(application_.Call("input", Event("S", {{"type", EncodableValue("button")},
                                                   {"button", EncodableValue(1)},
                                                   {"down", EncodableValue(true)}})),
            "success");
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  ASSERT_TRUE(application_.Serves());
  services_.reset();
  EXPECT_FALSE(application_.Serves()) << "a later call would reach the services after they are gone";
  ASSERT_EQ(sent_.batches.size(), 2u);
  EXPECT_EQ(sent_.batches[1].at(0).type, static_cast<DWORD>(INPUT_MOUSE));
  EXPECT_EQ(sent_.batches[1].at(0).mi.dwFlags, static_cast<DWORD>(MOUSEEVENTF_RIGHTUP));
}

TEST_F(DesktopServicesTest, AReleaseTimerThatCannotStartEndsTheGamepadConsent) {
  // A window that no longer exists: the controller attaches, the timer cannot start on it.
  HWND gone = CreateWindowExW(0, L"CorvaneDesktopServicesTest", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  ASSERT_TRUE(DestroyWindow(gone));
  DesktopServicesEnvironment environment;
  environment.send_input = RecordingSendInput;
  environment.now_ms = [this] { return now_ms_; };
  environment.bus_io = driver_.Seam();
  Application application;
  DesktopServices services(&application, gone, std::move(environment));
  EXPECT_EQ(application.Call("authorize", Event("G", {{"mode", EncodableValue("gamepad")}})),
            "error GAMEPAD_WATCHDOG Could not start the input release timer.");
  EXPECT_TRUE(driver_.Plugged().empty()) << "the controller stays attached";
  EXPECT_EQ(application.Call("input", Event("G", {{"type", EncodableValue("gamepad")}})),
            "error NOT_AUTHORIZED No local approval");
}

// Nothing stays pressed on the virtual controller: seeded random gamepad sessions with renewals,
// reports, suspensions, revocations, emergency stops and watchdog ticks, with a model of consent
// deciding each answer; after the closing "revoke" the controller is unplugged and every serial's
// last report is neutral.
TEST_F(DesktopServicesTest, TheVirtualControllerEndsNeutralAfterRandomSessions) {
  const char* chosen = std::getenv("CORVANE_PROPERTY_SEED");
  const auto seed = static_cast<std::uint32_t>(chosen != nullptr ? std::strtoul(chosen, nullptr, 10) : 20261208ul);
  std::mt19937 random(seed);
  SCOPED_TRACE("seed " + std::to_string(seed) + " (CORVANE_PROPERTY_SEED repeats it)");
  const std::vector<std::string> sessions = {"A", "B"};
  for (int sequence = 0; sequence < 10; ++sequence) {
    std::string consented;
    bool suspended = false;
    for (int step = 0; step < 40; ++step) {
      SCOPED_TRACE("sequence " + std::to_string(sequence) + ", step " + std::to_string(step));
      const std::string who = sessions[random() % 2];
      const EncodableMap only_session{{EncodableValue("sessionId"), EncodableValue(who)}};
      switch (random() % 8) {
        case 0:
          ASSERT_TRUE(
              Consented(application_.Call("authorize", Event(who.c_str(), {{"mode", EncodableValue("gamepad")}}))));
          consented = who;
          suspended = false;
          break;
        case 1:
          ASSERT_EQ(application_.Call("suspend", only_session), "success");
          suspended = suspended || who == consented;
          break;
        case 2:
          ASSERT_EQ(application_.Call("revoke", only_session), "success");
          consented = who == consented ? "" : consented;
          break;
        case 3: {
          const std::size_t before = application_.sent.size();
          PostMessageW(window_, WM_HOTKEY, EmergencyHotKeyId, 0);
          ASSERT_TRUE(PumpUntil([&] { return application_.sent.size() > before; }));
          consented.clear();
          break;
        }
        case 4:
          now_ms_ += 100 * (random() % 8);  // the watchdog's tick, maybe past the 500 ms
          services_->HandleWindowMessage(WM_TIMER, ReleaseTimerId, 0);
          break;
        default: {
          const int buttons = static_cast<int>(random() % 0x10000) & ~0x0C20;
          const std::string answer = application_.Call(
              "input", Event(who.c_str(), {{"type", EncodableValue("gamepad")},
                                           {"buttons", EncodableValue(buttons)},
                                           {"lt", EncodableValue(static_cast<int>(random() % 256))},
                                           {"rt", EncodableValue(static_cast<int>(random() % 256))},
                                           {"lx", EncodableValue(static_cast<int>(random() % 65536) - 32768)},
                                           {"ly", EncodableValue(static_cast<int>(random() % 65536) - 32768)},
                                           {"rx", EncodableValue(0)},
                                           {"ry", EncodableValue(0)}}));
          ASSERT_EQ(answer, who == consented && !suspended ? "success" : "error NOT_AUTHORIZED No local approval");
        }
      }
    }
    ASSERT_EQ(application_.Call("revoke", {}), "success");
    ASSERT_TRUE(driver_.Plugged().empty());
    for (std::uint32_t serial = 1; serial <= 4; ++serial) {
      const std::vector<GamepadState> reports = driver_.Reports(serial);
      EXPECT_TRUE(reports.empty() || reports.back() == GamepadState{}) << "serial " << serial;
    }
  }
  EXPECT_TRUE(driver_.Faults().empty()) << driver_.Faults().front();
}

// A drop as the shell hands it over: a DROPFILES block of wide, NUL-separated paths ending in an
// empty one (two NULs even when there are no paths).
HDROP MakeDrop(const std::vector<std::wstring>& files) {
  std::size_t characters = files.empty() ? 2 : 1;
  for (const std::wstring& file : files) {
    characters += file.size() + 1;
  }
  HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + characters * sizeof(wchar_t));
  auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
  header->pFiles = sizeof(DROPFILES);
  header->fWide = TRUE;
  auto* out = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(header) + sizeof(DROPFILES));
  for (const std::wstring& file : files) {
    std::copy(file.begin(), file.end(), out);
    out += file.size() + 1;
  }
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

TEST_F(DesktopServicesTest, ADropOfAHundredFilesSendsTheUsablePathsOfTheFirstSixtyFourAsUtf8) {
  std::vector<std::wstring> files = {L"C:\\drop\\\u0641\u0627\u06CC\u0644 \U0001F600.txt"};
  // The longest path taken (32,767 UTF-16 units), then one unit more, which is skipped.
  files.push_back(L"C:\\" + std::wstring(32764, L'a'));
  files.push_back(L"C:\\" + std::wstring(32765, L'b'));
  for (int i = 3; i < 100; ++i) {
    files.push_back(L"C:\\drop\\" + std::to_wstring(i) + L".txt");
  }
  EXPECT_TRUE(services_->HandleWindowMessage(WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(files)), 0));
  ASSERT_EQ(application_.sent.size(), 1u);
  EXPECT_EQ(application_.sent[0].first, "corvane/chat_file_drop");
  const auto call = flutter::StandardMethodCodec::GetInstance().DecodeMethodCall(application_.sent[0].second);
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->method_name(), "filesDropped");
  const auto& paths =
      std::get<flutter::EncodableList>(std::get<EncodableMap>(*call->arguments()).at(EncodableValue("paths")));
  // The first 64 files are looked at; the one too long among them is skipped.
  ASSERT_EQ(paths.size(), 63u);
  EXPECT_EQ(paths[0], EncodableValue("C:\\drop\\\xD9\x81\xD8\xA7\xDB\x8C\xD9\x84 \xF0\x9F\x98\x80.txt"));
  EXPECT_EQ(std::get<std::string>(paths[1]).size(), 32767u);
  EXPECT_EQ(paths[2], EncodableValue("C:\\drop\\3.txt"));
  EXPECT_EQ(paths[62], EncodableValue("C:\\drop\\63.txt"));
}

TEST_F(DesktopServicesTest, AttentionFlashesTheTaskBarButtonThreeTimesUntilTheWindowIsInFront) {
  EXPECT_EQ(application_.Call("attention", {}), "success");
  ASSERT_EQ(flashes_.size(), 1u);
  EXPECT_EQ(flashes_[0].cbSize, sizeof(FLASHWINFO));
  EXPECT_EQ(flashes_[0].hwnd, window_);
  EXPECT_EQ(flashes_[0].dwFlags, static_cast<DWORD>(0x0E));  // the tray button, until in front
  EXPECT_EQ(flashes_[0].uCount, 3u);
  EXPECT_EQ(flashes_[0].dwTimeout, 0u);
}

TEST_F(DesktopServicesTest, ADroppedNameThatIsNotValidUtf16IsSkipped) {
  // An unpaired surrogate has no UTF-8 form: converted anyway, it would name a file that does not exist.
  const std::wstring unpaired = std::wstring(L"C:\\drop\\bad") + static_cast<wchar_t>(0xD800) + L".txt";
  const std::wstring reversed =
      std::wstring(L"C:\\drop\\") + static_cast<wchar_t>(0xDE00) + static_cast<wchar_t>(0xD83D) + L".txt";
  EXPECT_TRUE(services_->HandleWindowMessage(
      WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({unpaired, L"C:\\drop\\good.txt", reversed})), 0));
  ASSERT_EQ(application_.sent.size(), 1u);
  const auto call = flutter::StandardMethodCodec::GetInstance().DecodeMethodCall(application_.sent[0].second);
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(std::get<EncodableMap>(*call->arguments()).at(EncodableValue("paths")),
            EncodableValue(flutter::EncodableList{EncodableValue("C:\\drop\\good.txt")}));
  application_.sent.clear();
  EXPECT_TRUE(services_->HandleWindowMessage(WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({unpaired})), 0));
  EXPECT_TRUE(application_.sent.empty()) << "nothing usable was dropped";
}

TEST_F(DesktopServicesTest, AnEmptyDropSendsNothingAndIsStillTaken) {
  EXPECT_TRUE(services_->HandleWindowMessage(WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({})), 0));
  EXPECT_TRUE(application_.sent.empty());
}

TEST_F(DesktopServicesTest, TeardownInFullScreenRestoresTheWindow) {
  HWND framed =
      CreateWindowExW(0, L"CorvaneDesktopServicesTest", L"framed", WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN,
                      100, 100, 640, 480, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(framed, nullptr);
  RECT before{};
  GetWindowRect(framed, &before);
  const LONG_PTR style = GetWindowLongPtrW(framed, GWL_STYLE);
  {
    Application application;
    DesktopServices services(&application, framed, {});
    ASSERT_EQ(application.Call("gamepadFullscreen", {{EncodableValue("enabled"), EncodableValue(true)}}), "success");
    RECT full{};
    GetWindowRect(framed, &full);
    EXPECT_EQ(full.right - full.left, GetSystemMetrics(SM_CXSCREEN));
    // Exactly the frame goes: caption, system menu, sizing border, minimise and maximise boxes.
    EXPECT_EQ(GetWindowLongPtrW(framed, GWL_STYLE), style & ~static_cast<LONG_PTR>(0x00CF0000));
  }
  RECT after{};
  GetWindowRect(framed, &after);
  EXPECT_EQ(GetWindowLongPtrW(framed, GWL_STYLE), style);
  EXPECT_TRUE(EqualRect(&after, &before))
      << after.left << "," << after.top << " " << after.right << "," << after.bottom;
  DestroyWindow(framed);
}

TEST_F(DesktopServicesTest, ADriverAnsweringOnTheBusNeedsNoInstallerAtAll) {
  // No installer lies beside the test executable: only a driver that answers makes this a success.
  EXPECT_EQ(application_.Call("installGamepadDriver", {}), "success");
}

TEST_F(DesktopServicesTest, FullScreenOfAWindowWhoseQueriesFailAnswersSuccessAndChangesNothing) {
  HWND gone = CreateWindowExW(0, L"CorvaneDesktopServicesTest", L"gone", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_TRUE(DestroyWindow(gone));
  const HWND foreground = GetForegroundWindow();
  const LONG_PTR foreground_style = foreground != nullptr ? GetWindowLongPtrW(foreground, GWL_STYLE) : 0;
  {
    Application application;
    DesktopServices services(&application, gone, {});
    EXPECT_EQ(application.Call("gamepadFullscreen", {{EncodableValue("enabled"), EncodableValue(true)}}), "success");
    EXPECT_EQ(application.Call("gamepadFullscreen", {{EncodableValue("enabled"), EncodableValue(false)}}), "success");
    EXPECT_EQ(application.Call("gamepadFullscreen", {{EncodableValue("enabled"), EncodableValue(true)}}), "success");
  }
  if (foreground != nullptr) {
    EXPECT_EQ(GetWindowLongPtrW(foreground, GWL_STYLE), foreground_style);
  }
}

// "readGamepads" through the services: the pads' values only while the host's window is in front, and
// the layout the call asks for.
TEST_F(DesktopServicesTest, GamepadsShowTheirValuesOnlyWhileTheHostWindowIsInFront) {
  const auto make_window = [](const wchar_t* title) {
    return CreateWindowExW(0, L"CorvaneDesktopServicesTest", title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 300, 200,
                           nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  };
  const HWND host = make_window(L"host");
  const HWND other = make_window(L"other");
  ASSERT_NE(host, nullptr);
  ASSERT_NE(other, nullptr);
  auto api = std::make_unique<testing::FakeGamepadApi>();
  api->joystick_count = 1;
  api->AddJoystick(0, L"Pad").position.dwButtons = 0x0001;  // button 1
  DesktopServicesEnvironment environment;
  environment.now_ms = [this] { return now_ms_; };
  environment.gamepad_api = std::move(api);
  Application application;
  DesktopServices services(&application, host, std::move(environment));
  // The buttons of the one pad, and the "foreground" flag, of one "readGamepads".
  const auto read = [&application](bool playstation) {
    EXPECT_EQ(application.Call("readGamepads", {{EncodableValue("playstationLayout"), EncodableValue(playstation)}}),
              "success");
    const auto& result = std::get<EncodableMap>(application.last_value);
    const auto& devices = std::get<flutter::EncodableList>(result.at(EncodableValue("devices")));
    EXPECT_EQ(devices.size(), 1u);
    const auto& device = std::get<EncodableMap>(devices.at(0));
    return std::make_pair(std::get<bool>(result.at(EncodableValue("foreground"))),
                          std::get<std::int32_t>(device.at(EncodableValue("buttons"))));
  };
  SetForegroundWindow(host);
  ASSERT_EQ(GetForegroundWindow(), host);
  EXPECT_EQ(read(false), std::make_pair(true, 0x8000));  // button 1 is Y
  EXPECT_EQ(read(true), std::make_pair(true, 0x4000));   // and X in the PlayStation layout
  SetForegroundWindow(other);
  ASSERT_EQ(GetForegroundWindow(), other);
  EXPECT_EQ(read(false), std::make_pair(false, 0));
  DestroyWindow(other);
  DestroyWindow(host);
}

}  // namespace
}  // namespace corvane::client
