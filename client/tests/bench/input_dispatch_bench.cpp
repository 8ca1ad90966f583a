// One "input" key event as the host takes it, natively: the standard-codec decode of the call, the
// method looked up by name, the one-answer wrapper, the consent gate and the event turned into its
// INPUT record, handed to an injector that only counts. Figures, never pass conditions.
#include <benchmark/benchmark.h>

#include <flutter/method_call.h>
#include <flutter/method_result_functions.h>
#include <flutter/standard_method_codec.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "gamepad/virtual_controller.h"
#include "services/method_arguments.h"
#include "services/method_dispatch.h"
#include "services/remote_input.h"

namespace {

using corvane::client::ConsentArea;
using corvane::client::InputRecord;
using corvane::client::MethodArguments;
using corvane::client::RemoteInput;
using flutter::EncodableMap;
using flutter::EncodableValue;

class CountingDesktop : public corvane::client::ConsentDesktop {
 public:
  std::optional<corvane::client::ScreenPoint> CursorPosition() override { return corvane::client::ScreenPoint{}; }
  corvane::client::VirtualScreen VirtualScreenRect() override { return {0, 0, 1920, 1080}; }
  std::uint32_t SendInput(const std::vector<InputRecord>& records) override {
    sent += records.size();
    return static_cast<std::uint32_t>(records.size());
  }
  bool StartReleaseTimer() override { return true; }
  void StopReleaseTimer() override {}
  std::uint32_t ScanCode(std::uint16_t) override { return 0; }
  bool RegisterEmergencyHotKey(corvane::client::EmergencyChord) override { return true; }
  void UnregisterEmergencyHotKey(corvane::client::EmergencyChord) override {}
  ConsentArea ResolveSourceRect(const std::string&) override { return {0, 0, 1920, 1080}; }
  void SendEmergencyStop(const std::string&) override {}
  std::size_t sent = 0;
};

class NoController : public corvane::client::VirtualController {
 public:
  bool Attach() override { return false; }
  bool SubmitReport(const corvane::client::GamepadState&) override { return false; }
  void Neutralize() override {}
  void WatchdogTick() override {}
  void Release() override {}
};

std::unique_ptr<std::vector<uint8_t>> Encode(const char* method, EncodableMap arguments) {
  const flutter::MethodCall<EncodableValue> call(method, std::make_unique<EncodableValue>(std::move(arguments)));
  return flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(call);
}

void BM_DecodeAndDispatchKeyEvent(benchmark::State& state) {
  CountingDesktop desktop;
  NoController controller;
  RemoteInput remote(desktop, controller);
  const auto authorize = Encode("authorize", {{EncodableValue("sessionId"), EncodableValue("session-1")}});
  const auto& codec = flutter::StandardMethodCodec::GetInstance();
  {
    const auto call = codec.DecodeMethodCall(*authorize);
    flutter::MethodResultFunctions<EncodableValue> ignored(nullptr, nullptr, nullptr);
    remote.Authorize(MethodArguments(call->arguments()), ignored);
  }
  const auto message = Encode("input", {{EncodableValue("sessionId"), EncodableValue("session-1")},
                                        {EncodableValue("type"), EncodableValue("key")},
                                        {EncodableValue("key"), EncodableValue(0x41)},
                                        {EncodableValue("down"), EncodableValue(false)}});
  std::size_t answered = 0;
  for (auto _ : state) {
    const auto call = codec.DecodeMethodCall(*message);
    const auto method = corvane::client::FindRemoteInputMethod(call->method_name());
    auto result = std::make_unique<flutter::MethodResultFunctions<EncodableValue>>(
        [&answered](const EncodableValue*) { ++answered; }, nullptr, nullptr);
    corvane::client::AnswerOnce(std::move(result), [&](flutter::MethodResult<EncodableValue>& once) {
      if (method == corvane::client::RemoteInputMethod::kInput) {
        remote.Input(MethodArguments(call->arguments()), once);
      }
    });
  }
  if (answered != static_cast<std::size_t>(state.iterations())) {
    state.SkipWithError("a call was not answered with success");
  }
  state.counters["records"] = static_cast<double>(desktop.sent);
  state.SetLabel(std::to_string(message->size()) + "-byte call");
}
BENCHMARK(BM_DecodeAndDispatchKeyEvent);

}  // namespace

BENCHMARK_MAIN();
