// The real helper as this test's child, over its real pipe: parent and client checks, authentication,
// the command loop's rules and both ends of a connection.
#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <string>

#include "helper_connection.h"

namespace corvane::testing {
namespace {

using protocol::HelperEnvelope;

// The reply's member of type T, if the reply is there and holds one.
template <class T>
std::optional<T> member_of(const std::optional<HelperEnvelope>& envelope) {
  if (envelope) {
    if (const auto* member = std::get_if<T>(&envelope->payload)) {
      return *member;
    }
  }
  return std::nullopt;
}

std::optional<protocol::HelperError> error_of(const std::optional<HelperEnvelope>& envelope) {
  return member_of<protocol::HelperError>(envelope);
}

std::optional<protocol::HelperStatus> status_of(const std::optional<HelperEnvelope>& envelope) {
  return member_of<protocol::HelperStatus>(envelope);
}

std::string error_line(const std::string& message) { return "corvane-media-helper: " + message + "\n"; }

// The helper wrote nothing back and ended the connection.
void expect_no_reply(HelperConnection& connection) {
  auto frame = connection.receive();
  ASSERT_TRUE(frame) << frame.error().message;
  EXPECT_TRUE(std::holds_alternative<protocol::Disconnected>(*frame));
}

void expect_exit(HelperConnection& connection, DWORD code, const std::string& standard_error) {
  const ChildOutcome outcome = connection.finish();
  ASSERT_TRUE(outcome.finished) << "the helper did not end";
  EXPECT_EQ(outcome.exit_code, code);
  EXPECT_EQ(outcome.standard_error, standard_error);
  EXPECT_EQ(outcome.standard_output, "");
}

// ---- parent and client checks ----

TEST(HelperParentCheck, ADeclaredParentThatIsNotTheRealOneFailsBeforeAnyPipeExists) {
  HelperConnection first;  // a live process that is not the second helper's parent
  ASSERT_TRUE(first.connect());
  // Same pipe ID: had the second helper created its pipe before the parent check, it would report
  // the pipe error instead.
  HelperConnection second(first.helper().pid(), first.secrets());
  const ChildOutcome outcome = second.helper().wait();
  EXPECT_EQ(outcome.exit_code, 1u);
  EXPECT_EQ(outcome.standard_error, error_line("declared parent process does not own the helper"));
  expect_exit(first, 1, error_line("client disconnected before authentication"));
}

TEST(HelperPipe, ASecondHelperWithTheSamePipeIdCannotCreateThePipe) {
  HelperConnection first;
  ASSERT_TRUE(first.connect());
  HelperConnection second(std::nullopt, first.secrets());
  const ChildOutcome outcome = second.helper().wait();
  EXPECT_EQ(outcome.exit_code, 1u);
  EXPECT_EQ(outcome.standard_error.rfind("corvane-media-helper: create restricted named pipe: ", 0), 0u)
      << outcome.standard_error;
  EXPECT_NE(outcome.standard_error.find(" (os error "), std::string::npos) << outcome.standard_error;
  ASSERT_TRUE(first.request(protocol::reply("auth", first.valid_authenticate())));
  expect_exit(first, 0, "");
}

TEST(HelperPipe, AForeignClientConnectingFirstIsRefusedAndTheHelperEnds) {
  HelperConnection helper;
  ChildProcess intruder(L"pipe_client_stub.exe", {helper.secrets().pipe_id});
  ASSERT_TRUE(intruder.started()) << intruder.start_error();
  const ChildOutcome outcome = helper.helper().wait();
  EXPECT_EQ(outcome.exit_code, 1u);
  EXPECT_EQ(outcome.standard_error, error_line("named-pipe client is not the helper parent"));
  const ChildOutcome intruder_outcome = intruder.wait();
  EXPECT_EQ(intruder_outcome.standard_output, "connected\n");
  EXPECT_EQ(intruder_outcome.exit_code, 0u);
}

TEST(HelperPipe, ThePipeIsOwnedByTheUserWithOneAllowEntry) {
  HelperConnection connection;
  ASSERT_TRUE(connection.connect());
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD status = GetSecurityInfo(connection.pipe_handle(), SE_KERNEL_OBJECT,
                                       OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr, &dacl,
                                       nullptr, &descriptor);
  ASSERT_EQ(status, 0u);
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  std::vector<unsigned char> buffer(256);
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &size));
  CloseHandle(token);
  const PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  ASSERT_NE(owner, nullptr);
  EXPECT_TRUE(EqualSid(owner, user));
  ASSERT_NE(dacl, nullptr);
  ASSERT_EQ(dacl->AceCount, 1u);
  void* ace = nullptr;
  ASSERT_TRUE(GetAce(dacl, 0, &ace));
  const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
  EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  // "GA" (generic all), as written or as mapped to the pipe's specific rights.
  EXPECT_TRUE(allowed->Mask == GENERIC_ALL || allowed->Mask == FILE_ALL_ACCESS) << std::hex << allowed->Mask;
  EXPECT_TRUE(EqualSid(reinterpret_cast<PSID>(const_cast<DWORD*>(&allowed->SidStart)), user));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_NE(control & SE_DACL_PROTECTED, 0) << "inherited entries must not apply";
  LocalFree(descriptor);
  ASSERT_TRUE(connection.request(protocol::reply("auth", connection.valid_authenticate())));
  expect_exit(connection, 0, "");
}

// ---- authentication ----

TEST(HelperAuthentication, ACommandBeforeAuthenticateIsAnsweredThenTheHelperEnds) {
  HelperConnection connection;
  ASSERT_TRUE(connection.connect());
  const auto reply = connection.request(protocol::reply("first-1", protocol::ListCaptureSources{}));
  const auto error = error_of(reply);
  ASSERT_TRUE(error);
  EXPECT_EQ(reply->request_id, "first-1");
  EXPECT_EQ(error->code, "AUTHENTICATION_REQUIRED");
  EXPECT_EQ(error->message, "Authenticate must be the first helper command");
  EXPECT_FALSE(error->retryable);
  expect_exit(connection, 1, error_line("Authenticate was not the first helper command"));
}

TEST(HelperAuthentication, AWrongNonceIsRefused) {
  HelperConnection connection;
  ASSERT_TRUE(connection.connect());
  auto authenticate = connection.valid_authenticate();
  authenticate.nonce[31] ^= 1;
  const auto reply = connection.request(protocol::reply("a", authenticate));
  const auto error = error_of(reply);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, "AUTHENTICATION_FAILED");
  EXPECT_EQ(error->message, "helper authentication failed");
  expect_exit(connection, 1, error_line("helper authentication failed"));
}

TEST(HelperAuthentication, AWrongParentIdOrAShortNonceIsRefused) {
  for (int variant = 0; variant < 2; ++variant) {
    HelperConnection connection;
    ASSERT_TRUE(connection.connect());
    auto authenticate = connection.valid_authenticate();
    if (variant == 0) {
      authenticate.parent_process_id += 4;
    } else {
      authenticate.nonce.pop_back();
    }
    const auto error = error_of(connection.request(protocol::reply("a", authenticate)));
    ASSERT_TRUE(error) << variant;
    EXPECT_EQ(error->code, "AUTHENTICATION_FAILED");
    expect_exit(connection, 1, error_line("helper authentication failed"));
  }
}

TEST(HelperAuthentication, AnotherContractVersionGetsNoReply) {
  HelperConnection connection;
  ASSERT_TRUE(connection.connect());
  auto envelope = protocol::reply("a", connection.valid_authenticate());
  envelope.contract_version = 2;
  ASSERT_TRUE(connection.send(envelope));
  expect_no_reply(connection);
  expect_exit(connection, 1, error_line("authentication envelope is invalid"));
}

TEST(HelperAuthentication, ClosingInsideTheFirstBodyIsAReadFailure) {
  HelperConnection connection;
  ASSERT_TRUE(connection.connect());
  const auto body = protocol::encode_envelope(protocol::reply("a", connection.valid_authenticate()));
  auto frame = framed(body);
  frame.resize(frame.size() - 5);
  ASSERT_TRUE(connection.send_raw(frame));
  expect_exit(connection, 1, error_line("read authentication command: failed to fill whole buffer"));
}

TEST(HelperAuthentication, LeavingBeforeTheFirstFrame) {
  HelperConnection connection;
  ASSERT_TRUE(connection.connect());
  expect_exit(connection, 1, error_line("client disconnected before authentication"));
}

// ---- the command loop ----

TEST(HelperSession, ACleanDisconnectEndsWithExitCodeZeroAndNoOutput) {
  HelperConnection connection;
  ASSERT_TRUE(connection.connect_and_authenticate());
  const auto status = status_of(connection.request(protocol::reply("stop-1", protocol::StopBroadcast{})));
  ASSERT_TRUE(status);
  EXPECT_EQ(status->status, "idle");
  expect_exit(connection, 0, "");
}

TEST(HelperSession, ASecondAuthenticateIsRefusedAndTheConnectionGoesOn) {
  HelperConnection connection;
  ASSERT_TRUE(connection.connect_and_authenticate());
  const auto reply = connection.request(protocol::reply("again", connection.valid_authenticate()));
  const auto error = error_of(reply);
  ASSERT_TRUE(error);
  EXPECT_EQ(reply->request_id, "again");
  EXPECT_EQ(error->code, "ALREADY_AUTHENTICATED");
  EXPECT_EQ(error->message, "the helper connection is already authenticated");
  ASSERT_TRUE(status_of(connection.request(protocol::reply("s", protocol::StopBroadcast{}))));
  expect_exit(connection, 0, "");
}

TEST(HelperSession, AnotherContractVersionIsAnsweredAndTheConnectionGoesOn) {
  HelperConnection connection;
  ASSERT_TRUE(connection.connect_and_authenticate());
  auto envelope = protocol::reply("", protocol::StopBroadcast{});
  envelope.contract_version = 0;
  const auto reply = connection.request(envelope);
  const auto error = error_of(reply);
  ASSERT_TRUE(error);
  EXPECT_EQ(reply->request_id, "");
  EXPECT_EQ(error->code, "CONTRACT_VERSION_UNSUPPORTED");
  EXPECT_EQ(error->message, "native helper contract version is unsupported");
  ASSERT_TRUE(status_of(connection.request(protocol::reply("s", protocol::StopBroadcast{}))));
  expect_exit(connection, 0, "");
}

TEST(HelperSession, AnEmptyRequestIdEndsTheConnection) {
  HelperConnection connection;
  ASSERT_TRUE(connection.connect_and_authenticate());
  ASSERT_TRUE(connection.send(protocol::reply("", protocol::StopBroadcast{})));
  expect_no_reply(connection);
  expect_exit(connection, 1, error_line("request ID is invalid"));
}

TEST(HelperSession, RequestIdsOf128BytesAreAcceptedAnd129AreNot) {
  HelperConnection connection;
  ASSERT_TRUE(connection.connect_and_authenticate());
  const std::string longest(128, 'z');
  const auto reply = connection.request(protocol::reply(longest, protocol::StopBroadcast{}));
  ASSERT_TRUE(status_of(reply));
  EXPECT_EQ(reply->request_id, longest);
  ASSERT_TRUE(connection.send(protocol::reply(longest + "z", protocol::StopBroadcast{})));
  expect_no_reply(connection);
  expect_exit(connection, 1, error_line("request ID is invalid"));
}

TEST(HelperSession, AnOversizedFrameIsRefusedByThePoll) {
  HelperConnection connection;
  ASSERT_TRUE(connection.connect_and_authenticate());
  ASSERT_TRUE(connection.send_raw({0x01, 0x00, 0x10, 0x00}));  // 1048577
  expect_exit(connection, 1, error_line("poll named pipe: protobuf frame length is invalid"));
}

TEST(HelperSession, AnUndecodableCommandEndsTheConnection) {
  HelperConnection connection;
  ASSERT_TRUE(connection.connect_and_authenticate());
  ASSERT_TRUE(connection.send_raw(framed({0x08, 0x01, 0x12, 0x01, 0x61})));
  expect_no_reply(connection);
  expect_exit(connection, 1, error_line("read helper command: envelope command is missing"));
}

TEST(HelperSession, AFrameWrittenInThreePiecesWithPausesIsAnswered) {
  HelperConnection connection;
  ASSERT_TRUE(connection.connect_and_authenticate());
  const auto frame = framed(protocol::encode_envelope(protocol::reply("pieces", protocol::StopBroadcast{})));
  const std::size_t third = frame.size() / 3;
  for (const auto& [from, to] : {std::pair{std::size_t{0}, third}, {third, 2 * third}, {2 * third, frame.size()}}) {
    ASSERT_TRUE(connection.send_raw(
        {frame.begin() + static_cast<std::ptrdiff_t>(from), frame.begin() + static_cast<std::ptrdiff_t>(to)}));
    Sleep(50);  // time for the helper to look at an incomplete frame; not a pass condition
  }
  const auto reply = connection.receive_within();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->request_id, "pieces");
  EXPECT_EQ(status_of(reply)->status, "idle");
  expect_exit(connection, 0, "");
}

TEST(HelperSession, TwoFramesArrivingTogetherAreBothAnsweredInOrder) {
  HelperConnection connection;
  ASSERT_TRUE(connection.connect_and_authenticate());
  auto both = framed(protocol::encode_envelope(protocol::reply("one", protocol::StopBroadcast{})));
  const auto second = framed(protocol::encode_envelope(protocol::reply("two", protocol::ConfigureGlobalPtt{})));
  both.insert(both.end(), second.begin(), second.end());
  ASSERT_TRUE(connection.send_raw(both));
  for (const char* expected : {"one", "two"}) {
    auto frame = connection.receive();
    ASSERT_TRUE(frame && std::holds_alternative<HelperEnvelope>(*frame));
    EXPECT_EQ(std::get<HelperEnvelope>(*frame).request_id, expected);
  }
  expect_exit(connection, 0, "");
}

TEST(HelperSession, DisablingAChordThatIsNotRunningAnswersDisabled) {
  HelperConnection connection;
  ASSERT_TRUE(connection.connect_and_authenticate());
  const auto ptt = status_of(connection.request(protocol::reply("p", protocol::ConfigureGlobalPtt{})));
  ASSERT_TRUE(ptt);
  EXPECT_EQ(ptt->status, "global-ptt-disabled");
  const auto mic = status_of(connection.request(protocol::reply("m", protocol::ConfigureMicrophoneShortcut{})));
  ASSERT_TRUE(mic);
  EXPECT_EQ(mic->status, "microphone-shortcut-disabled");
  expect_exit(connection, 0, "");
}

}  // namespace
}  // namespace corvane::testing
