#include "services/method_dispatch.h"

#include <array>
#include <string>
#include <utility>

namespace corvane::client {

namespace {

constexpr std::array<std::pair<std::string_view, RemoteInputMethod>, 10> kMethods = {{
    {"readGamepads", RemoteInputMethod::kReadGamepads},
    {"gamepadFullscreen", RemoteInputMethod::kGamepadFullscreen},
    {"gamepadStatus", RemoteInputMethod::kGamepadStatus},
    {"installGamepadDriver", RemoteInputMethod::kInstallGamepadDriver},
    {"screenInfo", RemoteInputMethod::kScreenInfo},
    {"attention", RemoteInputMethod::kAttention},
    {"authorize", RemoteInputMethod::kAuthorize},
    {"suspend", RemoteInputMethod::kSuspend},
    {"revoke", RemoteInputMethod::kRevoke},
    {"input", RemoteInputMethod::kInput},
}};

// Passes on the first answer only and remembers whether one was given.
class OnceResult : public flutter::MethodResult<flutter::EncodableValue> {
 public:
  explicit OnceResult(flutter::MethodResult<flutter::EncodableValue>& inner) : inner_(inner) {}
  bool Answered() const { return answered_; }

 protected:
  void SuccessInternal(const flutter::EncodableValue* value) override {
    if (Claim()) {
      value != nullptr ? inner_.Success(*value) : inner_.Success();
    }
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const flutter::EncodableValue* details) override {
    if (Claim()) {
      details != nullptr ? inner_.Error(code, message, *details) : inner_.Error(code, message);
    }
  }
  void NotImplementedInternal() override {
    if (Claim()) {
      inner_.NotImplemented();
    }
  }

 private:
  bool Claim() { return !std::exchange(answered_, true); }

  flutter::MethodResult<flutter::EncodableValue>& inner_;
  bool answered_ = false;
};

}  // namespace

std::optional<RemoteInputMethod> FindRemoteInputMethod(std::string_view name) {
  for (const auto& [method_name, method] : kMethods) {
    if (method_name == name) {
      return method;
    }
  }
  return std::nullopt;
}

std::string_view RemoteInputMethodName(RemoteInputMethod method) {
  for (const auto& [method_name, entry] : kMethods) {
    if (entry == method) {
      return method_name;
    }
  }
  return {};
}

void AnswerOnce(std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result,
                const std::function<void(flutter::MethodResult<flutter::EncodableValue>&)>& handler) {
  OnceResult once(*result);
  try {
    handler(once);
  } catch (...) {
    once.Error(std::string(kInvalidInputCode), std::string(kInvalidInputMessage));
  }
  if (!once.Answered()) {
    once.NotImplemented();
  }
}

}  // namespace corvane::client
