#include "services/method_dispatch.h"

#include <flutter/binary_messenger.h>
#include <flutter/method_channel.h>
#include <flutter/standard_method_codec.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
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

// A messenger that keeps the one channel handler set on it, so that a test can play the application:
// deliver a call and collect every reply the host sends to it.
class ApplicationSide : public flutter::BinaryMessenger {
 public:
  void Send(const std::string& /*channel*/, const uint8_t* /*message*/, size_t /*message_size*/,
            flutter::BinaryReply /*reply*/) const override {}
  void SetMessageHandler(const std::string& /*channel*/, flutter::BinaryMessageHandler handler) override {
    handler_ = std::move(handler);
  }

  // Every reply to one call of `method`, including those that come after the handler returned.
  std::vector<std::vector<uint8_t>> Call(const std::string& method) {
    const flutter::MethodCall<EncodableValue> call(method, nullptr);
    const std::unique_ptr<std::vector<uint8_t>> message =
        flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(call);
    auto replies = std::make_shared<std::vector<std::vector<uint8_t>>>();
    handler_(message->data(), message->size(),
             [replies](const uint8_t* reply, size_t size) { replies->emplace_back(reply, reply + size); });
    return *replies;
  }

 private:
  flutter::BinaryMessageHandler handler_;
};

// The call of `method` through a real method channel whose handler runs `handler` under AnswerOnce.
std::vector<std::vector<uint8_t>> replies_through_channel(
    const std::string& method, const std::function<void(flutter::MethodResult<EncodableValue>&)>& handler) {
  ApplicationSide application;
  const flutter::MethodChannel<EncodableValue> channel(&application, "corvane/remote_input",
                                                       &flutter::StandardMethodCodec::GetInstance());
  channel.SetMethodCallHandler([&handler](const flutter::MethodCall<EncodableValue>&,
                                          std::unique_ptr<flutter::MethodResult<EncodableValue>> result) {
    AnswerOnce(std::move(result), handler);
  });
  return application.Call(method);
}

// The channel itself answers nothing for a result dropped unanswered, so these show that the guard
// still gives every call exactly one answer.
TEST(AnswerOnceOnTheChannel, AHandlerThatForgetsGetsOneEmptyAnswer) {
  const std::vector<std::vector<uint8_t>> replies = replies_through_channel("authorize", [](auto&) {});
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_TRUE(replies[0].empty());  // not implemented
}

TEST(AnswerOnceOnTheChannel, AThrowingHandlerGetsOneErrorAnswer) {
  const std::vector<std::vector<uint8_t>> replies =
      replies_through_channel("input", [](auto&) { throw std::runtime_error("no answer yet"); });
  ASSERT_EQ(replies.size(), 1u);
  std::vector<std::string> answers;
  RecordedResult decoded(answers);
  ASSERT_TRUE(flutter::StandardMethodCodec::GetInstance().DecodeAndProcessResponseEnvelope(
      replies[0].data(), replies[0].size(), &decoded));
  EXPECT_EQ(answers, std::vector<std::string>{"error INVALID_INPUT Input is invalid"});
}

}  // namespace
}  // namespace corvane::client
