// Method channels over the stand-in engine, with a BridgePeer playing the application: calls from
// the application reach the handler on the platform thread and every kind of answer comes back as
// its envelope; calls from the host reach the application, and the application's answers reach the
// host's result.
#include <flutter/flutter_view_controller.h>
#include <flutter/method_channel.h>
#include <flutter/method_result_functions.h>
#include <flutter/standard_method_codec.h>

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "embedding_test_support.h"

namespace {

using embedding_test::BridgedTest;
using embedding_test::kWaitMs;
using embedding_test::PumpUntil;
using embedding_test::TestProject;
using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter::MethodCall;
using flutter::MethodResult;
using flutter_bridge::Envelope;

constexpr char kChannel[] = "corvane/remote_input";

// A view controller connected to the peer, and a method channel on its messenger.
class ChannelTest : public BridgedTest {
 protected:
  void SetUp() override {
    BridgedTest::SetUp();
    controller_ = std::make_unique<flutter::FlutterViewController>(320, 200, TestProject());
    ASSERT_NE(controller_->view(), nullptr);
    ConnectAndSkipHello();
    channel_ = std::make_unique<flutter::MethodChannel<EncodableValue>>(controller_->engine()->messenger(), kChannel,
                                                                        &flutter::StandardMethodCodec::GetInstance());
  }

  void TearDown() override {
    channel_.reset();
    controller_.reset();
  }

  // The answer to reply_id, failing the test when none comes.
  Envelope AwaitResponse(int64_t reply_id) {
    EXPECT_NE(reply_id, 0) << peer_.last_error();
    std::optional<Envelope> envelope = peer_.await_response(reply_id, kWaitMs);
    EXPECT_TRUE(envelope) << peer_.last_error();
    return envelope ? *envelope : Envelope();
  }

  std::unique_ptr<flutter::FlutterViewController> controller_;
  std::unique_ptr<flutter::MethodChannel<EncodableValue>> channel_;
};

// --- calls from the application to the host's handler ---

using HandlerTest = ChannelTest;

TEST_F(HandlerTest, ReceivesTheCallOnThePlatformThreadAndItsSuccessValueComesBack) {
  std::string method;
  std::optional<EncodableValue> arguments;
  DWORD thread = 0;
  channel_->SetMethodCallHandler(
      [&](const MethodCall<EncodableValue>& call, std::unique_ptr<MethodResult<EncodableValue>> result) {
        method = call.method_name();
        if (call.arguments() != nullptr) {
          arguments = *call.arguments();
        }
        thread = GetCurrentThreadId();
        result->Success(EncodableValue(EncodableMap{{EncodableValue("width"), EncodableValue(1920)}}));
      });
  const EncodableValue sent(EncodableMap{{EncodableValue("sessionId"), EncodableValue("s-1")},
                                         {EncodableValue("mode"), EncodableValue("desktop")}});
  const Envelope envelope = AwaitResponse(peer_.invoke(kChannel, "authorize", sent));

  EXPECT_EQ(method, "authorize");
  EXPECT_EQ(arguments, sent);
  EXPECT_EQ(thread, GetCurrentThreadId());
  EXPECT_EQ(envelope.kind, Envelope::Kind::kSuccess);
  EXPECT_EQ(envelope.value, EncodableValue(EncodableMap{{EncodableValue("width"), EncodableValue(1920)}}));
}

TEST_F(HandlerTest, SuccessWithoutAValueComesBackAsSuccessWithNull) {
  channel_->SetMethodCallHandler([](const MethodCall<EncodableValue>&,
                                    std::unique_ptr<MethodResult<EncodableValue>> result) { result->Success(); });
  const Envelope envelope = AwaitResponse(peer_.invoke(kChannel, "revoke"));
  EXPECT_EQ(envelope.kind, Envelope::Kind::kSuccess);
  EXPECT_TRUE(envelope.value.IsNull());
}

TEST_F(HandlerTest, ErrorComesBackWithCodeMessageAndDetails) {
  channel_->SetMethodCallHandler(
      [](const MethodCall<EncodableValue>& call, std::unique_ptr<MethodResult<EncodableValue>> result) {
        if (call.method_name() == "withDetails") {
          result->Error("INVALID_INPUT", "Input is invalid", EncodableValue(EncodableList{EncodableValue(7)}));
        } else {
          result->Error("INVALID_SESSION", "Session is required");
        }
      });
  const Envelope detailed = AwaitResponse(peer_.invoke(kChannel, "withDetails"));
  EXPECT_EQ(detailed.kind, Envelope::Kind::kError);
  EXPECT_EQ(detailed.code, "INVALID_INPUT");
  EXPECT_EQ(detailed.message, "Input is invalid");
  EXPECT_EQ(detailed.value, EncodableValue(EncodableList{EncodableValue(7)}));

  const Envelope plain = AwaitResponse(peer_.invoke(kChannel, "authorize"));
  EXPECT_EQ(plain.kind, Envelope::Kind::kError);
  EXPECT_EQ(plain.code, "INVALID_SESSION");
  EXPECT_EQ(plain.message, "Session is required");
  EXPECT_TRUE(plain.value.IsNull());
}

TEST_F(HandlerTest, NotImplementedComesBackAsEmptyBytes) {
  channel_->SetMethodCallHandler(
      [](const MethodCall<EncodableValue>&, std::unique_ptr<MethodResult<EncodableValue>> result) {
        result->NotImplemented();
      });
  const Envelope envelope = AwaitResponse(peer_.invoke(kChannel, "Authorize"));
  EXPECT_EQ(envelope.kind, Envelope::Kind::kNotImplemented);
  EXPECT_TRUE(envelope.bytes.empty());
}

TEST_F(HandlerTest, AResultDestroyedUnansweredIsNeverAnswered) {
  channel_->SetMethodCallHandler(
      [](const MethodCall<EncodableValue>& call, std::unique_ptr<MethodResult<EncodableValue>> result) {
        if (call.method_name() == "answered") {
          result->Success(EncodableValue(call.method_name()));
        }
      });
  const int64_t dropped = peer_.invoke(kChannel, "screenInfo");
  const int64_t answered = peer_.invoke(kChannel, "answered");
  ASSERT_NE(dropped, 0);
  // Taken in arrival order: an answer to the dropped call would come first.
  const std::optional<EncodableList> frame = peer_.receive_kind_within("response", kWaitMs);
  ASSERT_TRUE(frame) << peer_.last_error();
  ASSERT_EQ(frame->size(), 3u);
  EXPECT_EQ((*frame)[1].LongValue(), answered);
}

TEST_F(HandlerTest, AResultKeptByTheHandlerCanAnswerLater) {
  std::unique_ptr<MethodResult<EncodableValue>> kept;
  channel_->SetMethodCallHandler(
      [&kept](const MethodCall<EncodableValue>&, std::unique_ptr<MethodResult<EncodableValue>> result) {
        kept = std::move(result);
      });
  const int64_t reply_id = peer_.invoke(kChannel, "installGamepadDriver");
  ASSERT_TRUE(PumpUntil([&kept] { return kept != nullptr; }));
  kept->Success(EncodableValue(true));
  const Envelope envelope = AwaitResponse(reply_id);
  EXPECT_EQ(envelope.kind, Envelope::Kind::kSuccess);
  EXPECT_EQ(envelope.value, EncodableValue(true));
}

TEST_F(HandlerTest, OnlyTheFirstAnswerIsSent) {
  channel_->SetMethodCallHandler(
      [](const MethodCall<EncodableValue>& call, std::unique_ptr<MethodResult<EncodableValue>> result) {
        result->Success(EncodableValue(call.method_name()));
        result->Error("SECOND", "must not be sent");
      });
  const int64_t first = peer_.invoke(kChannel, "first");
  const int64_t second = peer_.invoke(kChannel, "second");
  // Taken in arrival order: a second answer to the first call would come between the two.
  for (const auto& [reply_id, method] : {std::pair{first, "first"}, std::pair{second, "second"}}) {
    const std::optional<EncodableList> frame = peer_.receive_kind_within("response", kWaitMs);
    ASSERT_TRUE(frame) << peer_.last_error();
    ASSERT_EQ(frame->size(), 3u);
    EXPECT_EQ((*frame)[1].LongValue(), reply_id);
    const Envelope envelope = flutter_bridge::DecodeEnvelope(std::get<std::vector<uint8_t>>((*frame)[2]));
    EXPECT_EQ(envelope.kind, Envelope::Kind::kSuccess);
    EXPECT_EQ(envelope.value, EncodableValue(method));
  }
}

TEST_F(HandlerTest, ACallWithReplyIdZeroIsHandledButNotAnswered) {
  std::vector<std::string> methods;
  channel_->SetMethodCallHandler(
      [&methods](const MethodCall<EncodableValue>& call, std::unique_ptr<MethodResult<EncodableValue>> result) {
        methods.push_back(call.method_name());
        result->Success(EncodableValue(call.method_name()));
      });
  const MethodCall<EncodableValue> call("fireAndForget", nullptr);
  ASSERT_TRUE(peer_.send_message(kChannel, *flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(call), 0));
  const int64_t answered = peer_.invoke(kChannel, "answered");

  // The first response to arrive belongs to the second call.
  const std::optional<EncodableList> frame = peer_.receive_kind_within("response", kWaitMs);
  ASSERT_TRUE(frame) << peer_.last_error();
  EXPECT_EQ((*frame)[1].LongValue(), answered);
  EXPECT_EQ(methods, (std::vector<std::string>{"fireAndForget", "answered"}));
}

TEST_F(HandlerTest, BytesThatAreNoMethodCallAreAnsweredNotImplementedWithoutCallingTheHandler) {
  int calls = 0;
  channel_->SetMethodCallHandler(
      [&calls](const MethodCall<EncodableValue>&, std::unique_ptr<MethodResult<EncodableValue>> result) {
        ++calls;
        result->Success();
      });
  // Tag 255 is no value type of the standard codec.
  ASSERT_TRUE(peer_.send_message(kChannel, {0xFF, 0x01}, 41));
  const Envelope envelope = AwaitResponse(41);
  EXPECT_EQ(envelope.kind, Envelope::Kind::kNotImplemented);
  EXPECT_EQ(calls, 0);
}

// --- channels without a handler ---

using NoHandlerTest = ChannelTest;

TEST_F(NoHandlerTest, AChannelNobodyListensOnAnswersEmpty) {
  const Envelope envelope = AwaitResponse(peer_.invoke("corvane/chat_file_drop", "filesDropped"));
  EXPECT_EQ(envelope.kind, Envelope::Kind::kNotImplemented);
  EXPECT_TRUE(envelope.bytes.empty());
}

TEST_F(NoHandlerTest, ARemovedHandlerIsNoLongerCalledAndTheChannelAnswersEmpty) {
  int calls = 0;
  channel_->SetMethodCallHandler(
      [&calls](const MethodCall<EncodableValue>&, std::unique_ptr<MethodResult<EncodableValue>> result) {
        ++calls;
        result->Success(EncodableValue(1));
      });
  EXPECT_EQ(AwaitResponse(peer_.invoke(kChannel, "attention")).kind, Envelope::Kind::kSuccess);
  channel_->SetMethodCallHandler(nullptr);
  const Envelope envelope = AwaitResponse(peer_.invoke(kChannel, "attention"));
  EXPECT_EQ(envelope.kind, Envelope::Kind::kNotImplemented);
  EXPECT_EQ(calls, 1);
}

TEST_F(NoHandlerTest, AReplacedHandlerTakesOver) {
  channel_->SetMethodCallHandler(
      [](const MethodCall<EncodableValue>&, std::unique_ptr<MethodResult<EncodableValue>> result) {
        result->Success(EncodableValue("old"));
      });
  channel_->SetMethodCallHandler(
      [](const MethodCall<EncodableValue>&, std::unique_ptr<MethodResult<EncodableValue>> result) {
        result->Success(EncodableValue("new"));
      });
  EXPECT_EQ(AwaitResponse(peer_.invoke(kChannel, "attention")).value, EncodableValue("new"));
}

// --- calls from the host to the application ---

using InvokeTest = ChannelTest;

// The method call inside a ["message", channel, bytes, reply_id] frame.
std::unique_ptr<MethodCall<EncodableValue>> CallIn(const EncodableList& frame) {
  return flutter::StandardMethodCodec::GetInstance().DecodeMethodCall(std::get<std::vector<uint8_t>>(frame.at(2)));
}

TEST_F(InvokeTest, ACallWithoutResultReachesTheApplicationWithReplyIdZero) {
  const EncodableValue files(EncodableList{EncodableValue("C:\\a.txt"), EncodableValue("C:\\b\xc3\xa9.png")});
  channel_->InvokeMethod("filesDropped", std::make_unique<EncodableValue>(files));
  channel_->InvokeMethod("emergencyStop", nullptr);

  const std::optional<EncodableList> first = peer_.receive_kind_within("message", kWaitMs);
  ASSERT_TRUE(first) << peer_.last_error();
  ASSERT_EQ(first->size(), 4u);
  EXPECT_EQ((*first)[1], EncodableValue(kChannel));
  EXPECT_EQ((*first)[3].LongValue(), 0);
  const auto call = CallIn(*first);
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->method_name(), "filesDropped");
  ASSERT_NE(call->arguments(), nullptr);
  EXPECT_EQ(*call->arguments(), files);

  const std::optional<EncodableList> second = peer_.receive_kind_within("message", kWaitMs);
  ASSERT_TRUE(second) << peer_.last_error();
  EXPECT_EQ((*second)[3].LongValue(), 0);
  const auto stop = CallIn(*second);
  ASSERT_NE(stop, nullptr);
  EXPECT_EQ(stop->method_name(), "emergencyStop");
  EXPECT_TRUE(stop->arguments() == nullptr || stop->arguments()->IsNull());
}

// What a host result received, and on which thread.
struct Received {
  std::optional<Envelope> envelope;
  DWORD thread = 0;
};

std::unique_ptr<MethodResult<EncodableValue>> Recorder(Received& received) {
  return std::make_unique<flutter::MethodResultFunctions<EncodableValue>>(
      [&received](const EncodableValue* value) {
        received.envelope = Envelope{Envelope::Kind::kSuccess, value ? *value : EncodableValue(), "", "", {}};
        received.thread = GetCurrentThreadId();
      },
      [&received](const std::string& code, const std::string& message, const EncodableValue* details) {
        received.envelope = Envelope{Envelope::Kind::kError, details ? *details : EncodableValue(), code, message, {}};
        received.thread = GetCurrentThreadId();
      },
      [&received] {
        received.envelope = Envelope{Envelope::Kind::kNotImplemented, EncodableValue(), "", "", {}};
        received.thread = GetCurrentThreadId();
      });
}

// Invokes method with a recording result and returns the reply id the application sees.
int64_t InvokeWithResult(flutter::MethodChannel<EncodableValue>& channel, flutter_bridge::BridgePeer& peer,
                         const std::string& method, Received& received) {
  channel.InvokeMethod(method, std::make_unique<EncodableValue>(EncodableValue(5)), Recorder(received));
  const std::optional<EncodableList> frame = peer.receive_kind_within("message", kWaitMs);
  EXPECT_TRUE(frame) << peer.last_error();
  if (!frame) {
    return 0;
  }
  const auto call = CallIn(*frame);
  EXPECT_TRUE(call && call->method_name() == method);
  return (*frame)[3].LongValue();
}

TEST_F(InvokeTest, TheApplicationsSuccessReachesTheResultOnThePlatformThread) {
  Received received;
  const int64_t reply_id = InvokeWithResult(*channel_, peer_, "ping", received);
  ASSERT_NE(reply_id, 0);
  const EncodableValue value(EncodableMap{{EncodableValue("pong"), EncodableValue(int64_t{1} << 40)}});
  ASSERT_TRUE(peer_.respond(reply_id, *flutter::StandardMethodCodec::GetInstance().EncodeSuccessEnvelope(&value)));
  ASSERT_TRUE(PumpUntil([&received] { return received.envelope.has_value(); }));
  EXPECT_EQ(received.envelope->kind, Envelope::Kind::kSuccess);
  EXPECT_EQ(received.envelope->value, value);
  EXPECT_EQ(received.thread, GetCurrentThreadId());
}

TEST_F(InvokeTest, TheApplicationsErrorReachesTheResult) {
  Received received;
  const int64_t reply_id = InvokeWithResult(*channel_, peer_, "ping", received);
  ASSERT_NE(reply_id, 0);
  const EncodableValue details("why");
  ASSERT_TRUE(peer_.respond(
      reply_id, *flutter::StandardMethodCodec::GetInstance().EncodeErrorEnvelope("E1", "failed", &details)));
  ASSERT_TRUE(PumpUntil([&received] { return received.envelope.has_value(); }));
  EXPECT_EQ(received.envelope->kind, Envelope::Kind::kError);
  EXPECT_EQ(received.envelope->code, "E1");
  EXPECT_EQ(received.envelope->message, "failed");
  EXPECT_EQ(received.envelope->value, details);
}

TEST_F(InvokeTest, AnEmptyOrUndecodableAnswerReachesTheResultAsNotImplemented) {
  for (const std::vector<uint8_t>& answer : {std::vector<uint8_t>{}, std::vector<uint8_t>{0x02, 0x00}}) {
    Received received;
    const int64_t reply_id = InvokeWithResult(*channel_, peer_, "ping", received);
    ASSERT_NE(reply_id, 0);
    ASSERT_TRUE(peer_.respond(reply_id, answer));
    ASSERT_TRUE(PumpUntil([&received] { return received.envelope.has_value(); })) << answer.size();
    EXPECT_EQ(received.envelope->kind, Envelope::Kind::kNotImplemented);
  }
}

TEST_F(InvokeTest, AnswersAreMatchedToTheirCallsByReplyId) {
  Received first;
  Received second;
  const int64_t first_id = InvokeWithResult(*channel_, peer_, "one", first);
  const int64_t second_id = InvokeWithResult(*channel_, peer_, "two", second);
  ASSERT_NE(first_id, 0);
  ASSERT_NE(second_id, 0);
  EXPECT_NE(first_id, second_id);
  const auto& codec = flutter::StandardMethodCodec::GetInstance();
  const EncodableValue two("for two");
  const EncodableValue one("for one");
  ASSERT_TRUE(peer_.respond(second_id, *codec.EncodeSuccessEnvelope(&two)));
  ASSERT_TRUE(peer_.respond(first_id, *codec.EncodeSuccessEnvelope(&one)));
  ASSERT_TRUE(PumpUntil([&] { return first.envelope.has_value() && second.envelope.has_value(); }));
  EXPECT_EQ(first.envelope->value, one);
  EXPECT_EQ(second.envelope->value, two);
}

}  // namespace
