#pragma once
// The remote-input channel's methods by exact name, and the rule that every call gets exactly one
// answer even when its handler throws or forgets to answer (portable).

#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include <flutter/encodable_value.h>
#include <flutter/method_result.h>

namespace corvane::client {

// The methods the remote-input channel serves, in dispatch order.
enum class RemoteInputMethod {
  kReadGamepads,
  kGamepadFullscreen,
  kGamepadStatus,
  kInstallGamepadDriver,
  kScreenInfo,
  kAttention,
  kAuthorize,
  kSuspend,
  kRevoke,
  kInput,
};

// The method named exactly `name` (case and all), or nothing for any other name.
std::optional<RemoteInputMethod> FindRemoteInputMethod(std::string_view name);

// The channel method's name ("readGamepads", …).
std::string_view RemoteInputMethodName(RemoteInputMethod method);

// The answer every failed call gets: a handler threw.
inline constexpr std::string_view kInvalidInputCode = "INVALID_INPUT";
inline constexpr std::string_view kInvalidInputMessage = "Input is invalid";

// Runs `handler` with a result that forwards only its first answer to `result`. If the handler
// throws before answering, the call is answered Error("INVALID_INPUT", "Input is invalid"); if it
// returns without answering, NotImplemented(), so the application never waits forever.
void AnswerOnce(std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result,
                const std::function<void(flutter::MethodResult<flutter::EncodableValue>&)>& handler);

}  // namespace corvane::client
