#include "method_dispatch.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace corvane::client {
namespace {

using flutter::EncodableValue;

// Records every answer it receives, in order.
class RecordedResult : public flutter::MethodResult<EncodableValue> {
 public:
  explicit RecordedResult(std::vector<std::string>& answers) : answers_(answers) {}

 protected:
  void SuccessInternal(const EncodableValue* value) override {
    const auto* text = value != nullptr ? std::get_if<std::string>(value) : nullptr;
    answers_.push_back(value == nullptr ? "success" : "success " + (text != nullptr ? *text : std::string("?")));
  }
  void ErrorInternal(const std::string& code, const std::string& message, const EncodableValue* details) override {
    answers_.push_back("error " + code + " " + message + (details != nullptr ? " +details" : ""));
  }
  void NotImplementedInternal() override { answers_.emplace_back("not implemented"); }

 private:
  std::vector<std::string>& answers_;
};

std::vector<std::string> answers_of(const std::function<void(flutter::MethodResult<EncodableValue>&)>& handler) {
  std::vector<std::string> answers;
  AnswerOnce(std::make_unique<RecordedResult>(answers), handler);
  return answers;
}

TEST(RemoteInputMethods, AreFoundByTheirExactNames) {
  const std::vector<std::pair<std::string, RemoteInputMethod>> expected = {
      {"readGamepads", RemoteInputMethod::kReadGamepads},
      {"gamepadFullscreen", RemoteInputMethod::kGamepadFullscreen},
      {"gamepadStatus", RemoteInputMethod::kGamepadStatus},
      {"installGamepadDriver", RemoteInputMethod::kInstallGamepadDriver},
      {"screenInfo", RemoteInputMethod::kScreenInfo},
      {"attention", RemoteInputMethod::kAttention},
      {"authorize", RemoteInputMethod::kAuthorize},
      {"suspend", RemoteInputMethod::kSuspend},
      {"revoke", RemoteInputMethod::kRevoke},
      {"input", RemoteInputMethod::kInput}};
  for (const auto& [name, method] : expected) {
    EXPECT_EQ(FindRemoteInputMethod(name), method) << name;
    EXPECT_EQ(RemoteInputMethodName(method), name);
  }
}

TEST(RemoteInputMethods, OtherCasesPrefixesAndStrangersAreUnknown) {
  for (const char* name : {"Authorize", "AUTHORIZE", "authorize ", " input", "inputs", "", "emergencyStop",
                           "filesDropped", "screeninfo"}) {
    EXPECT_FALSE(FindRemoteInputMethod(name).has_value()) << name;
  }
  EXPECT_FALSE(FindRemoteInputMethod(std::string("input\0", 6)).has_value());
}

TEST(AnswerOnce, PassesTheHandlersAnswerOn) {
  EXPECT_EQ(answers_of([](auto& result) { result.Success(EncodableValue("ok")); }),
            std::vector<std::string>{"success ok"});
  EXPECT_EQ(answers_of([](auto& result) { result.Error("INVALID_SESSION", "Session is required"); }),
            std::vector<std::string>{"error INVALID_SESSION Session is required"});
  EXPECT_EQ(answers_of([](auto& result) { result.NotImplemented(); }), std::vector<std::string>{"not implemented"});
}

TEST(AnswerOnce, AThrowingHandlerIsAnsweredInvalidInput) {
  EXPECT_EQ(answers_of([](auto&) { throw std::invalid_argument("bad path"); }),
            std::vector<std::string>{"error INVALID_INPUT Input is invalid"});
  EXPECT_EQ(answers_of([](auto&) { throw 42; }), std::vector<std::string>{"error INVALID_INPUT Input is invalid"});
}

TEST(AnswerOnce, AnAnswerBeforeAThrowIsTheOnlyAnswer) {
  EXPECT_EQ(answers_of([](auto& result) {
              result.Success();
              throw std::runtime_error("after the answer");
            }),
            std::vector<std::string>{"success"});
}

TEST(AnswerOnce, SecondAnswersAreDropped) {
  EXPECT_EQ(answers_of([](auto& result) {
              result.Error("A", "first");
              result.Success();
              result.NotImplemented();
            }),
            std::vector<std::string>{"error A first"});
}

TEST(AnswerOnce, AHandlerThatForgetsToAnswerLeavesTheCallerNotWaiting) {
  EXPECT_EQ(answers_of([](auto&) {}), std::vector<std::string>{"not implemented"});
}

}  // namespace
}  // namespace corvane::client
