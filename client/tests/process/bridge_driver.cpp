// Plays the Flutter application through the stand-in engine's bridge against the real host, with the
// input sink as the window receiving what the host injects. Not a test: a tool for scripts/run and
// scripts/bench.
//   bridge_driver type <text> [hold-ms]  consents, types <text> into the sink, prints what the sink
//                                         received, keeps it on screen for hold-ms (default 2000)
//   bridge_driver desktop [hold-ms]      "screenInfo" of the primary monitor and of the virtual
//                                         screen, then the borderless full screen on for hold-ms
//                                         (default 2000) and off again, with the window's frame
//   bridge_driver bench [calls]          "input" key events from the bridge to SendInput and back to
//                                         the answer: p50, p99 and max over calls (default 1000)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "host_session.h"
#include "input_sink.h"

namespace {

using corvane::testing::HostSession;
using corvane::testing::InputSink;
using corvane::testing::SinkEvent;
using flutter::EncodableValue;

constexpr int kWaitMs = 20000;

std::string Utf8(const std::wstring& text) {
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

int Type(HostSession& host, InputSink& sink, const std::string& text, DWORD hold_ms) {
  const std::string consent = host.Call("authorize", {{"sessionId", EncodableValue("demo-session")}});
  std::printf("authorize demo-session -> %s\n", consent.c_str());
  const std::string typed = host.Call("input", {{"sessionId", EncodableValue("demo-session")},
                                                {"type", EncodableValue("text")},
                                                {"text", EncodableValue(text)}});
  std::printf("input text \"%s\" -> %s\n", text.c_str(), typed.c_str());
  // An Enter key pressed and released marks the end of what was typed.
  for (const bool down : {true, false}) {
    host.Call("input", {{"sessionId", EncodableValue("demo-session")},
                        {"type", EncodableValue("key")},
                        {"key", EncodableValue(VK_RETURN)},
                        {"down", EncodableValue(down)}});
  }
  const std::string other = host.Call(
      "input",
      {{"sessionId", EncodableValue("someone-else")}, {"type", EncodableValue("text")}, {"text", EncodableValue("x")}});
  std::printf("input from another session -> %s\n", other.c_str());
  std::wstring received;
  for (const auto& record : sink.EventsThrough(SinkEvent::kKeyUp, VK_RETURN)) {
    if (record.kind == SinkEvent::kCharacter && record.value >= 0x20) {
      received.push_back(static_cast<wchar_t>(record.value));
    }
  }
  std::printf("the sink window (another process) received: \"%s\"\n", Utf8(received).c_str());
  std::printf("revoke -> %s\n", host.Call("revoke", {}).c_str());
  std::fflush(stdout);
  Sleep(hold_ms);  // on screen for the screenshot
  return Utf8(received) == text ? 0 : 1;
}

std::string FrameOf(HWND window) {
  RECT frame{};
  GetWindowRect(window, &frame);
  return std::to_string(frame.right - frame.left) + "x" + std::to_string(frame.bottom - frame.top) + " at " +
         std::to_string(frame.left) + "," + std::to_string(frame.top) +
         ((GetWindowLongPtrW(window, GWL_STYLE) & WS_CAPTION) != 0 ? ", framed" : ", no frame");
}

int Desktop(HostSession& host, flutter_bridge::BridgePeer& peer, DWORD hold_ms) {
  for (const char* source : {"", "-1"}) {
    const int64_t id =
        peer.invoke(corvane::testing::kRemoteInputChannel, "screenInfo",
                    EncodableValue(flutter::EncodableMap{{EncodableValue("sourceId"), EncodableValue(source)}}));
    const auto answer = peer.await_response(id, kWaitMs);
    const auto* size = answer ? std::get_if<flutter::EncodableMap>(&answer->value) : nullptr;
    if (size == nullptr) {
      std::fprintf(stderr, "screenInfo gave no map\n");
      return 1;
    }
    std::printf("screenInfo sourceId \"%s\" -> width %d, height %d\n", source,
                std::get<int32_t>(size->at(EncodableValue("width"))),
                std::get<int32_t>(size->at(EncodableValue("height"))));
  }
  std::printf("window: %s\n", FrameOf(host.window()).c_str());
  std::printf("gamepadFullscreen true -> %s\n",
              host.Call("gamepadFullscreen", {{"enabled", EncodableValue(true)}}).c_str());
  std::printf("window: %s (full screen on)\n", FrameOf(host.window()).c_str());
  std::fflush(stdout);
  Sleep(hold_ms);  // on screen for the screenshot
  std::printf("gamepadFullscreen false -> %s\n",
              host.Call("gamepadFullscreen", {{"enabled", EncodableValue(false)}}).c_str());
  std::printf("window: %s\n", FrameOf(host.window()).c_str());
  return 0;
}

int Bench(HostSession& host, int calls) {
  if (host.Call("authorize", {{"sessionId", EncodableValue("bench")}}) != "success true") {
    std::fprintf(stderr, "no consent\n");
    return 1;
  }
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  std::vector<double> microseconds;
  for (int i = 0; i < calls; ++i) {
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceCounter(&start);
    const std::string answer = host.Call("input", {{"sessionId", EncodableValue("bench")},
                                                   {"type", EncodableValue("key")},
                                                   {"key", EncodableValue('A')},
                                                   {"down", EncodableValue(i % 2 == 0)}});
    QueryPerformanceCounter(&end);
    if (answer != "success") {
      std::fprintf(stderr, "call %d: %s\n", i, answer.c_str());
      return 1;
    }
    microseconds.push_back(static_cast<double>(end.QuadPart - start.QuadPart) * 1e6 /
                           static_cast<double>(frequency.QuadPart));
  }
  host.Call("revoke", {});
  std::sort(microseconds.begin(), microseconds.end());
  const auto at = [&](double share) {
    return microseconds[std::min(microseconds.size() - 1,
                                 static_cast<std::size_t>(share * static_cast<double>(microseconds.size())))];
  };
  std::printf(
      "\"input\" key event, bridge -> host -> SendInput -> answer, %d calls: p50 %.0f us, p99 %.0f us, max %.0f us\n",
      calls, at(0.5), at(0.99), microseconds.back());
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if ((mode != L"type" || argc < 3) && mode != L"bench" && mode != L"desktop") {
    std::fprintf(stderr, "usage: bridge_driver type <text> [hold-ms] | desktop [hold-ms] | bench [calls]\n");
    return 2;
  }
  flutter_bridge::BridgePeer peer;
  HostSession host(peer, {}, kWaitMs);
  if (!host.error().empty() || !host.ShowFirstFrame()) {
    std::fprintf(stderr, "the host did not come up: %s\n", host.error().c_str());
    return 1;
  }
  int status = 0;
  if (mode == L"desktop") {
    status = Desktop(host, peer, argc > 2 ? static_cast<DWORD>(_wtoi(argv[2])) : 2000);
  } else {
    InputSink sink;  // the foreground window from now on
    if (!sink.ready()) {
      std::fprintf(stderr, "%s\n", sink.error().c_str());
      return 1;
    }
    status = mode == L"type" ? Type(host, sink, Utf8(argv[2]), argc > 3 ? static_cast<DWORD>(_wtoi(argv[3])) : 2000)
                             : Bench(host, argc > 2 ? _wtoi(argv[2]) : 1000);
  }
  PostMessageW(host.window(), WM_CLOSE, 0, 0);
  const auto outcome = host.process().wait(kWaitMs);
  std::printf("host exit code %lu\n", static_cast<unsigned long>(outcome.exit_code));
  return status;
}
