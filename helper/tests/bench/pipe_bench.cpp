// Measures the real helper over its real pipe under Wine (figures only, no pass condition):
// StopBroadcast -> "idle" round trips with and without a pause between commands, a soak of many
// commands on one connection with the helper's handle count and private bytes before and after, and
// how long the helper outlives a parent that misbehaves (parent_stub.exe).
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "helper_connection.h"
#include "misbehaving_parent.h"
#include "process_figures.h"
#include "test_windows.h"

namespace {

using Clock = std::chrono::steady_clock;
using corvane::testing::figures_of;
using corvane::testing::HelperConnection;
using corvane::testing::ProcessFigures;

bool stop_round_trip(HelperConnection& connection, int index) {
  const auto reply =
      connection.request(corvane::protocol::reply("b" + std::to_string(index), corvane::protocol::StopBroadcast{}));
  const auto* status = reply ? std::get_if<corvane::protocol::HelperStatus>(&reply->payload) : nullptr;
  return status != nullptr && status->status == "idle";
}

void report(const char* name, std::vector<double> micros) {
  std::sort(micros.begin(), micros.end());
  auto at = [&](double q) { return micros[static_cast<std::size_t>(q * static_cast<double>(micros.size() - 1))]; };
  std::printf("%-34s n=%zu p50=%.0f us p90=%.0f us p99=%.0f us max=%.0f us\n", name, micros.size(), at(0.5), at(0.9),
              at(0.99), micros.back());
}

std::vector<double> round_trips(HelperConnection& connection, int count, DWORD pause_ms) {
  std::vector<double> micros;
  micros.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    if (pause_ms > 0) {
      Sleep(pause_ms);
    }
    const auto start = Clock::now();
    if (!stop_round_trip(connection, i)) {
      std::fprintf(stderr, "round trip %d failed\n", i);
      break;
    }
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  return micros;
}

// ListCaptureSources with 300 extra windows of another process on the X server.
void enumeration_figures(HelperConnection& connection, int count) {
  std::vector<std::string> titles;
  for (int i = 0; i < 300; ++i) {
    titles.push_back("bench window " + std::to_string(i));
  }
  corvane::testing::TestWindows windows(titles);
  if (!windows.ready()) {
    std::fprintf(stderr, "windows: %s\n", windows.failure().c_str());
    return;
  }
  std::vector<double> micros;
  std::size_t entries = 0;
  for (int i = 0; i < count; ++i) {
    const auto start = Clock::now();
    const auto reply =
        connection.request(corvane::protocol::reply("s" + std::to_string(i), corvane::protocol::ListCaptureSources{}));
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    if (const auto* list = reply ? std::get_if<corvane::protocol::CaptureSourceList>(&reply->payload) : nullptr) {
      entries = list->sources.size();
    }
  }
  std::printf("(%zu entries) ", entries);
  report("list sources, 300 windows", micros);
}

// From a key press injected with SendInput to the push-to-talk event read from the pipe.
void key_latency_figures(HelperConnection& connection, int presses) {
  constexpr WORD kKey = 0x51;  // Q
  corvane::protocol::ConfigureGlobalPtt ptt;
  ptt.enabled = true;
  ptt.virtual_key_codes = {kKey};
  if (!connection.request(corvane::protocol::reply("ptt", ptt))) {
    return;
  }
  auto send_key = [](DWORD flags) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = kKey;
    input.ki.dwFlags = flags;
    SendInput(1, &input, sizeof input);
  };
  std::vector<double> micros;
  for (int i = 0; i < presses; ++i) {
    const auto start = Clock::now();
    send_key(0);
    const auto pressed = connection.receive_within(5000);
    const auto got = Clock::now();
    send_key(KEYEVENTF_KEYUP);
    const auto released = connection.receive_within(5000);
    if (!pressed || !released) {
      std::fprintf(stderr, "press %d: no event\n", i);
      break;
    }
    micros.push_back(std::chrono::duration<double, std::micro>(got - start).count());
    Sleep(static_cast<DWORD>(i % 7));  // vary the phase against the 8 ms polls
  }
  report("key press to event frame", micros);
  corvane::protocol::ConfigureGlobalPtt off;
  connection.request(corvane::protocol::reply("ptt-off", off));
}

// From the parent's misbehaviour (the test's signal to the stub) to the helper's exit.
void parent_gone_figures(int runs) {
  const std::wstring helper = corvane::testing::executable_directory() + L"corvane_media_helper.exe";
  const std::pair<const wchar_t*, const char*> scenarios[] = {
      {L"exit-before-connect", "exit: parent ends before connecting"},
      {L"half-frame", "exit: parent ends inside a frame"},
      {L"close-mid-frame", "exit: client closes inside a frame"},
      {L"unread-reply", "exit: parent ends, reply unread"}};
  for (const auto& [scenario, name] : scenarios) {
    std::vector<double> micros;
    for (int i = 0; i < runs; ++i) {
      corvane::testing::MisbehavingParent parent(helper, scenario);
      if (!parent.ready()) {
        std::fprintf(stderr, "%s: the scene was not set\n", name);
        break;
      }
      const auto start = Clock::now();
      parent.go();
      if (!parent.helper_exit_code()) {
        std::fprintf(stderr, "%s: the helper stayed behind\n", name);
        break;
      }
      micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
      parent.finish();
    }
    if (!micros.empty()) {
      report(name, micros);
    }
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int round_trip_count = argc > 1 ? _wtoi(argv[1]) : 1000;
  const int soak_count = argc > 2 ? _wtoi(argv[2]) : 10000;
  HelperConnection connection;
  if (!connection.connect_and_authenticate()) {
    std::fprintf(stderr, "could not start and authenticate the helper\n");
    return 1;
  }
  parent_gone_figures(10);
  enumeration_figures(connection, 20);
  key_latency_figures(connection, 200);
  report("round trip, 20 ms between commands", round_trips(connection, round_trip_count, 20));
  report("round trip, back to back", round_trips(connection, round_trip_count, 0));

  const ProcessFigures before = figures_of(connection.helper().handle(), connection.helper().pid());
  const auto start = Clock::now();
  std::vector<double> soak = round_trips(connection, soak_count, 0);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const ProcessFigures after = figures_of(connection.helper().handle(), connection.helper().pid());
  std::printf(
      "soak: %zu commands in %.1f s (%.0f/s); helper handles %lu -> %lu, private bytes %zu -> %zu, "
      "working set %zu -> %zu\n",
      soak.size(), seconds, static_cast<double>(soak.size()) / seconds, before.handles, after.handles,
      static_cast<std::size_t>(before.private_bytes), static_cast<std::size_t>(after.private_bytes),
      static_cast<std::size_t>(before.working_set), static_cast<std::size_t>(after.working_set));
  const auto outcome = connection.finish();
  std::printf("helper exit code %lu, standard error: \"%s\"\n", static_cast<unsigned long>(outcome.exit_code),
              outcome.standard_error.c_str());
  return outcome.exit_code == 0 && soak.size() == static_cast<std::size_t>(soak_count) ? 0 : 1;
}
