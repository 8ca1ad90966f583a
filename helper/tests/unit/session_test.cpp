// The session loop with a scripted pipe and scripted subsystems: authentication, dispatch, event
// forwarding order, supervision frames and both shutdown paths.
#include "main/session.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <optional>

namespace corvane::helper {
namespace {

using protocol::HelperEnvelope;

// A pipe whose client has written `incoming` and then went away (unless told to stay).
class ScriptedPipe : public protocol::FrameStream {
 public:
  std::deque<std::uint8_t> incoming;
  std::vector<std::uint8_t> written;
  bool client_stays = false;  // peek reports "not ready" instead of a broken pipe
  std::uint32_t gone_code = protocol::kErrorBrokenPipe;
  std::optional<protocol::TransportError> peek_failure;
  std::optional<std::size_t> fail_writes_after;  // number of successful writes before failing
  std::size_t writes = 0;

  void add_frame(const HelperEnvelope& envelope) { add_bytes(frame_of(protocol::encode_envelope(envelope))); }
  void add_bytes(const std::vector<std::uint8_t>& bytes) {
    incoming.insert(incoming.end(), bytes.begin(), bytes.end());
  }

  static std::vector<std::uint8_t> frame_of(const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> frame;
    for (int shift = 0; shift < 32; shift += 8) {
      frame.push_back(static_cast<std::uint8_t>(body.size() >> shift));
    }
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
  }

  Expected<protocol::Peeked, protocol::TransportError> peek(std::span<std::uint8_t> buffer) override {
    if (peek_failure) {
      return fail(*peek_failure);
    }
    if (incoming.empty() && !client_stays) {
      return fail(protocol::TransportError{gone_code, "gone"});
    }
    const std::size_t copied = std::min(buffer.size(), incoming.size());
    std::copy_n(incoming.begin(), copied, buffer.begin());
    return protocol::Peeked{copied, incoming.size()};
  }

  Expected<std::size_t, protocol::TransportError> read(std::span<std::uint8_t> buffer) override {
    const std::size_t got = std::min(buffer.size(), incoming.size());
    std::copy_n(incoming.begin(), got, buffer.begin());
    incoming.erase(incoming.begin(), incoming.begin() + static_cast<std::ptrdiff_t>(got));
    return got;
  }

  Expected<std::size_t, protocol::TransportError> write(std::span<const std::uint8_t> bytes) override {
    if (fail_writes_after && writes >= *fail_writes_after) {
      return fail(protocol::TransportError{232, "The pipe is being closed. (os error 232)"});
    }
    ++writes;
    written.insert(written.end(), bytes.begin(), bytes.end());
    return bytes.size();
  }

  // Every frame the helper wrote, decoded.
  std::vector<HelperEnvelope> replies() const {
    std::vector<HelperEnvelope> out;
    std::size_t at = 0;
    while (at + 4 <= written.size()) {
      std::size_t length = 0;
      for (std::size_t k = 0; k < 4; ++k) {
        length |= static_cast<std::size_t>(written[at + k]) << (8 * k);
      }
      auto envelope = protocol::decode_envelope(std::span(written).subspan(at + 4, length), protocol::Sender::helper);
      EXPECT_TRUE(envelope);
      if (envelope) {
        out.push_back(std::move(envelope).value());
      }
      at += 4 + length;
    }
    return out;
  }
};

class FakeMonitor : public ChordMonitorHandle {
 public:
  FakeMonitor(std::vector<std::string>& log, std::string name, EventSender<ChordTransition> sender)
      : sender_(std::move(sender)), log_(log), name_(std::move(name)) {}
  void stop() override {
    log_.push_back("stop " + name_);
    if (held) {
      sender_.send(ChordTransition{false, 99});
    }
  }
  bool held = false;
  EventSender<ChordTransition> sender_;

 private:
  std::vector<std::string>& log_;
  std::string name_;
};

// Subsystems that record what the session asked of them.
class RecordingServices : public SessionServices {
 public:
  std::vector<std::string> log;
  std::deque<SupervisionEvent> supervision;
  std::function<void()> on_idle;
  Result<std::vector<protocol::CaptureSource>> sources = std::vector<protocol::CaptureSource>{};
  Result<BroadcastStarted> started = BroadcastStarted{"x264enc", true};
  ProfileUpdate updated{std::string("x264enc")};
  bool parent_gone = false;
  bool parent_gone_meanwhile = false;          // seen only by a wait for the parent
  std::optional<std::string> monitor_failure;  // for every chord
  std::vector<std::uint32_t> last_keys;
  std::uint32_t last_parent_pid = 0;
  std::vector<FakeMonitor*> monitors;  // in start order; valid while running
  int monitors_started = 0;

  void load_media_runtime() override { log.emplace_back("load"); }
  protocol::MediaCapabilities build_media_capabilities() override {
    log.emplace_back("caps");
    protocol::MediaCapabilities report;
    report.ok = true;
    report.runtime_version = "test";
    return report;
  }
  Result<std::vector<protocol::CaptureSource>> list_capture_sources() override {
    log.emplace_back("sources");
    return sources;
  }
  Result<BroadcastStarted> start_broadcast(const protocol::StartBroadcast& /*request*/,
                                           std::uint32_t parent_pid) override {
    log.emplace_back("start");
    last_parent_pid = parent_pid;
    return started;
  }
  ProfileUpdate update_broadcast_profile(const protocol::UpdateBroadcastProfile& /*request*/) override {
    log.emplace_back("update");
    return updated;
  }
  bool parent_ended(std::chrono::milliseconds within) override {
    if (within.count() > 0) {
      log.push_back("wait for the parent " + std::to_string(within.count()) + " ms");
      return parent_gone || parent_gone_meanwhile;
    }
    return parent_gone;
  }
  void stop_broadcast() override { log.emplace_back("stop broadcast"); }
  SupervisionEvent supervise_broadcast() override {
    if (supervision.empty()) {
      return {};
    }
    SupervisionEvent event = std::move(supervision.front());
    supervision.pop_front();
    return event;
  }
  void release_media() override { log.emplace_back("release media"); }
  Result<std::unique_ptr<ChordMonitorHandle>> start_key_chord_monitor(const std::vector<std::uint32_t>& keys,
                                                                      EventSender<ChordTransition> sender) override {
    last_keys = keys;
    if (monitor_failure || std::find(keys.begin(), keys.end(), 255u) != keys.end()) {
      return fail(monitor_failure.value_or("virtual key codes must be between 1 and 254"));
    }
    auto monitor = std::make_unique<FakeMonitor>(log, "monitor " + std::to_string(++monitors_started), sender);
    monitors.push_back(monitor.get());
    log.push_back("start monitor " + std::to_string(monitors_started));
    return std::unique_ptr<ChordMonitorHandle>(std::move(monitor));
  }
  void idle_wait() override {
    log.emplace_back("idle");
    if (on_idle) {
      auto hook = std::move(on_idle);
      on_idle = nullptr;
      hook();
    }
  }
};

LaunchConfig test_config() {
  LaunchConfig config;
  config.pipe_id = "0f8fad5b-d9cb-469f-a165-70867728950e";
  for (std::size_t i = 0; i < config.nonce.size(); ++i) {
    config.nonce[i] = static_cast<std::uint8_t>(0xA0 + i);
  }
  config.parent_pid = 4242;
  return config;
}

protocol::Authenticate valid_authenticate() {
  const LaunchConfig config = test_config();
  return protocol::Authenticate{std::vector<std::uint8_t>(config.nonce.begin(), config.nonce.end()), config.parent_pid};
}

// Runs a whole session over the scripted pipe; counts how often the pipe was closed.
struct SessionRun {
  ScriptedPipe pipe;
  RecordingServices services;
  int closes = 0;

  Status run() {
    return run_session(
        pipe,
        [this] {
          ++closes;
          services.log.emplace_back("close pipe");
        },
        test_config(), services);
  }

  // Adds the authentication frame and then `frames`.
  void authenticated_with(std::initializer_list<HelperEnvelope> frames) {
    pipe.add_frame(protocol::reply("auth", valid_authenticate()));
    for (const auto& frame : frames) {
      pipe.add_frame(frame);
    }
  }
};

std::vector<std::string> without_idle(const std::vector<std::string>& log) {
  std::vector<std::string> out;
  std::copy_if(log.begin(), log.end(), std::back_inserter(out), [](const std::string& e) { return e != "idle"; });
  return out;
}

template <class T>
const T& member(const HelperEnvelope& envelope) {
  const T* value = std::get_if<T>(&envelope.payload);
  if (value == nullptr) {
    ADD_FAILURE() << "unexpected member " << envelope.payload.index();
    static const T empty{};
    return empty;
  }
  return *value;
}

// ---- request IDs and the nonce ----

TEST(RequestIds, LengthAndAlphabet) {
  EXPECT_TRUE(request_id_valid("a"));
  EXPECT_TRUE(request_id_valid(std::string(128, 'x')));
  EXPECT_TRUE(request_id_valid("Az09._:-"));
  EXPECT_FALSE(request_id_valid(""));
  EXPECT_FALSE(request_id_valid(std::string(129, 'x')));
  for (const char* bad : {"a b", "a/b", "a+b", "\xC3\xA9", "a\nb", "a\\b"}) {
    EXPECT_FALSE(request_id_valid(bad)) << bad;
  }
}

TEST(NonceComparison, EveryByteCountsAndOnlyThirtyTwoBytesMatch) {
  const auto expected = test_config().nonce;
  std::vector<std::uint8_t> presented(expected.begin(), expected.end());
  EXPECT_TRUE(nonce_matches(presented, expected));
  for (std::size_t i = 0; i < presented.size(); ++i) {
    auto changed = presented;
    changed[i] ^= 0x80;
    EXPECT_FALSE(nonce_matches(changed, expected)) << "byte " << i;
  }
  EXPECT_FALSE(nonce_matches(std::span(presented).first(31), expected));
  presented.push_back(0);
  EXPECT_FALSE(nonce_matches(presented, expected));
  EXPECT_FALSE(nonce_matches({}, expected));
}

// ---- authentication ----

TEST(SessionAuthentication, TheRuntimeIsLoadedOnlyAfterAuthentication) {
  SessionRun good;
  good.authenticated_with({});
  ASSERT_TRUE(good.run());
  ASSERT_FALSE(good.services.log.empty());
  EXPECT_EQ(good.services.log.front(), "load");
  const auto replies = good.pipe.replies();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(member<protocol::HelperStatus>(replies[0]), (protocol::HelperStatus{true, "authenticated", ""}));
  EXPECT_EQ(replies[0].request_id, "auth");

  SessionRun bad;
  auto authenticate = valid_authenticate();
  authenticate.nonce[0] ^= 1;
  bad.pipe.add_frame(protocol::reply("auth", authenticate));
  const auto result = bad.run();
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "helper authentication failed");
  EXPECT_EQ(bad.services.log, std::vector<std::string>{"close pipe"});
}

TEST(SessionAuthentication, FailuresBeforeServingOnlyCloseThePipe) {
  struct Case {
    std::function<void(ScriptedPipe&)> script;
    std::string error;
    std::size_t replies;
  };
  auto with_version = [](std::uint32_t version, std::string id) {
    auto envelope = protocol::reply(std::move(id), valid_authenticate());
    envelope.contract_version = version;
    return envelope;
  };
  const std::vector<Case> cases = {
      {[](ScriptedPipe&) {}, "client disconnected before authentication", 0},
      {[](ScriptedPipe& p) {
         p.add_bytes({0x03, 0x00, 0x00});
       },
       "client disconnected before authentication", 0},
      {[](ScriptedPipe& p) {
         p.add_bytes({0x05, 0x00, 0x00, 0x00, 0x08});
       },
       "read authentication command: failed to fill whole buffer", 0},
      {[](ScriptedPipe& p) {
         p.add_bytes({0x00, 0x00, 0x00, 0x00});
       },
       "read authentication command: protobuf frame length is invalid", 0},
      {[](ScriptedPipe& p) {
         p.add_bytes(ScriptedPipe::frame_of({0x08, 0x01}));
       },
       "read authentication command: envelope command is missing", 0},
      {[&](ScriptedPipe& p) { p.add_frame(with_version(2, "a")); }, "authentication envelope is invalid", 0},
      {[&](ScriptedPipe& p) { p.add_frame(with_version(1, "")); }, "authentication envelope is invalid", 0},
      {[&](ScriptedPipe& p) { p.add_frame(with_version(1, "a b")); }, "authentication envelope is invalid", 0},
      {[](ScriptedPipe& p) { p.add_frame(protocol::reply("x", protocol::StopBroadcast{})); },
       "Authenticate was not the first helper command", 1},
  };
  for (const Case& c : cases) {
    SessionRun run;
    c.script(run.pipe);
    const auto result = run.run();
    ASSERT_FALSE(result) << c.error;
    EXPECT_EQ(result.error(), c.error);
    EXPECT_EQ(run.services.log, std::vector<std::string>{"close pipe"}) << c.error;
    EXPECT_EQ(run.pipe.replies().size(), c.replies) << c.error;
  }
}

TEST(SessionAuthentication, TheRefusalNamesTheRequestAndNotTheCause) {
  for (int variant = 0; variant < 3; ++variant) {
    SessionRun run;
    auto authenticate = valid_authenticate();
    if (variant == 0) authenticate.parent_process_id = 1;
    if (variant == 1) authenticate.nonce.pop_back();
    if (variant == 2) run.pipe.fail_writes_after = 0;  // the refusal cannot even be written
    if (variant == 2) authenticate.nonce[5] = 0;
    run.pipe.add_frame(protocol::reply("r-7", authenticate));
    const auto result = run.run();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), "helper authentication failed");
    const auto replies = run.pipe.replies();
    if (variant == 2) {
      EXPECT_TRUE(replies.empty());
      continue;
    }
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].request_id, "r-7");
    EXPECT_EQ(member<protocol::HelperError>(replies[0]),
              (protocol::HelperError{"AUTHENTICATION_FAILED", "helper authentication failed", false}));
  }
}

TEST(SessionAuthentication, AFailedAuthenticatedReplyEndsTheSession) {
  SessionRun run;
  run.pipe.fail_writes_after = 0;
  run.authenticated_with({});
  const auto result = run.run();
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "write helper response: The pipe is being closed. (os error 232)");
  EXPECT_EQ(run.services.log, std::vector<std::string>{"close pipe"});
}

// ---- dispatch ----

TEST(SessionDispatch, CommandsReachTheirOperationsAndRepliesCarryTheRequestId) {
  SessionRun run;
  run.services.sources = std::vector<protocol::CaptureSource>{{"monitor:1", "monitor", "m", ""}};
  run.authenticated_with({protocol::reply("c", protocol::GetMediaCapabilities{}),
                          protocol::reply("s", protocol::ListCaptureSources{}),
                          protocol::reply("u", protocol::UpdateBroadcastProfile{}),
                          protocol::reply("x", protocol::StopBroadcast{}), protocol::reply("a", valid_authenticate())});
  ASSERT_TRUE(run.run());
  const auto replies = run.pipe.replies();
  ASSERT_EQ(replies.size(), 6u);
  EXPECT_EQ(replies[1].request_id, "c");
  EXPECT_EQ(member<protocol::MediaCapabilities>(replies[1]).runtime_version, "test");
  EXPECT_EQ(replies[2].request_id, "s");
  EXPECT_EQ(member<protocol::CaptureSourceList>(replies[2]).sources.size(), 1u);
  EXPECT_EQ(member<protocol::HelperStatus>(replies[3]), (protocol::HelperStatus{true, "broadcasting", "x264enc"}));
  EXPECT_EQ(member<protocol::HelperStatus>(replies[4]), (protocol::HelperStatus{true, "idle", ""}));
  EXPECT_EQ(member<protocol::HelperError>(replies[5]),
            (protocol::HelperError{"ALREADY_AUTHENTICATED", "the helper connection is already authenticated", false}));
  EXPECT_EQ(replies[5].request_id, "a");
}

TEST(SessionDispatch, FailuresBecomeErrorsWithTheirCodesAndRetryFlags) {
  SessionRun run;
  run.services.sources = fail("Access is denied. (os error 5)");
  run.services.started = fail("GStreamer is unavailable");
  run.services.updated = {fail("the active media pipeline is unavailable")};
  run.services.monitor_failure = "virtual key codes must be between 1 and 254";
  protocol::ConfigureGlobalPtt ptt;
  ptt.enabled = true;
  protocol::ConfigureMicrophoneShortcut mic;
  mic.enabled = true;
  run.authenticated_with(
      {protocol::reply("1", protocol::ListCaptureSources{}), protocol::reply("2", protocol::StartBroadcast{}),
       protocol::reply("3", protocol::UpdateBroadcastProfile{}), protocol::reply("4", ptt), protocol::reply("5", mic)});
  ASSERT_TRUE(run.run());
  const auto replies = run.pipe.replies();
  ASSERT_EQ(replies.size(), 6u);
  EXPECT_EQ(member<protocol::HelperError>(replies[1]),
            (protocol::HelperError{"CAPTURE_SOURCE_ENUMERATION_FAILED", "Access is denied. (os error 5)", true}));
  EXPECT_EQ(member<protocol::HelperError>(replies[2]),
            (protocol::HelperError{"BROADCAST_START_FAILED", "GStreamer is unavailable", false}));
  EXPECT_EQ(
      member<protocol::HelperError>(replies[3]),
      (protocol::HelperError{"BROADCAST_PROFILE_UPDATE_FAILED", "the active media pipeline is unavailable", true}));
  EXPECT_EQ(
      member<protocol::HelperError>(replies[4]),
      (protocol::HelperError{"GLOBAL_PTT_CONFIGURATION_FAILED", "virtual key codes must be between 1 and 254", false}));
  EXPECT_EQ(member<protocol::HelperError>(replies[5]).code, "MICROPHONE_SHORTCUT_FAILED");
}

TEST(SessionDispatch, TheStartReplySaysWhetherSystemAudioIsOn) {
  struct Case {
    bool requested;
    bool active;
    const char* status;
  };
  for (const Case c : {Case{false, false, "broadcasting"}, Case{true, true, "broadcasting"},
                       Case{true, false, "broadcasting-without-system-audio"}}) {
    SessionRun run;
    run.services.started = BroadcastStarted{"nvd3d11h264enc", c.active};
    protocol::StartBroadcast start;
    start.system_audio = c.requested;
    run.authenticated_with({protocol::reply("go", start)});
    ASSERT_TRUE(run.run());
    const auto replies = run.pipe.replies();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(member<protocol::HelperStatus>(replies[1]), (protocol::HelperStatus{true, c.status, "nvd3d11h264enc"}));
    EXPECT_EQ(run.services.last_parent_pid, 4242u);
  }
}

TEST(SessionDispatch, AProfileUpdateThatLosesTheBroadcastIsFollowedByTheFailureEvent) {
  SessionRun run;
  run.services.updated = {fail("could not apply the broadcast profile: no encoder"), true};
  run.authenticated_with(
      {protocol::reply("u", protocol::UpdateBroadcastProfile{}), protocol::reply("x", protocol::StopBroadcast{})});
  ASSERT_TRUE(run.run());
  const auto replies = run.pipe.replies();
  ASSERT_EQ(replies.size(), 4u);
  EXPECT_EQ(replies[1].request_id, "u");
  EXPECT_EQ(member<protocol::HelperError>(replies[1]),
            (protocol::HelperError{"BROADCAST_PROFILE_UPDATE_FAILED",
                                   "could not apply the broadcast profile: no encoder", true}));
  EXPECT_EQ(replies[2].request_id, "");
  EXPECT_EQ(
      member<protocol::HelperError>(replies[2]),
      (protocol::HelperError{"MEDIA_PIPELINE_FAILED", "could not apply the broadcast profile: no encoder", true}));
  EXPECT_EQ(replies[3].request_id, "x") << "the event goes out once, right after its reply";
}

TEST(SessionDispatch, TheContractVersionIsCheckedBeforeTheRequestId) {
  SessionRun run;
  auto old = protocol::reply("", protocol::StopBroadcast{});
  old.contract_version = 0;
  auto invalid_id = protocol::reply("bad id", protocol::StopBroadcast{});
  invalid_id.contract_version = 7;
  run.authenticated_with({old, invalid_id, protocol::reply("", protocol::StopBroadcast{}),
                          protocol::reply("never", protocol::StopBroadcast{})});
  const auto result = run.run();
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "request ID is invalid");
  const auto replies = run.pipe.replies();
  ASSERT_EQ(replies.size(), 3u);
  for (std::size_t i : {1u, 2u}) {
    EXPECT_EQ(member<protocol::HelperError>(replies[i]).code, "CONTRACT_VERSION_UNSUPPORTED");
  }
  EXPECT_EQ(replies[1].request_id, "");
  EXPECT_EQ(replies[2].request_id, "bad id");
  EXPECT_EQ(std::count(run.services.log.begin(), run.services.log.end(), "stop broadcast"), 0)
      << "the command after the invalid one is never served";
}

// ---- the loop ----

TEST(SessionLoop, ItSleepsOnlyWhenNothingWaits) {
  SessionRun run;
  run.pipe.client_stays = true;
  run.authenticated_with(
      {protocol::reply("1", protocol::StopBroadcast{}), protocol::reply("2", protocol::StopBroadcast{})});
  run.services.on_idle = [&] { run.pipe.client_stays = false; };
  ASSERT_TRUE(run.run());
  EXPECT_EQ(run.services.log, (std::vector<std::string>{"load", "stop broadcast", "stop broadcast", "idle",
                                                        "stop broadcast", "release media", "close pipe"}));
}

TEST(SessionLoop, EveryWayOfLeavingIsACleanEnd) {
  for (const std::uint32_t code :
       {protocol::kErrorBrokenPipe, protocol::kErrorNoData, protocol::kErrorPipeNotConnected}) {
    SessionRun run;
    run.pipe.gone_code = code;
    run.authenticated_with({});
    EXPECT_TRUE(run.run()) << code;
  }
}

TEST(SessionLoop, AParentThatHasEndedEndsTheSessionBeforeAnythingIsReadOrWritten) {
  SessionRun run;
  protocol::ConfigureMicrophoneShortcut mic;
  mic.enabled = true;
  mic.virtual_key_code = 0x7B;
  run.authenticated_with({protocol::reply("m", mic)});
  run.pipe.client_stays = true;
  run.services.on_idle = [&] {
    run.services.monitors[0]->sender_.send({true, 1});
    run.services.supervision = {BroadcastEnded{}};
    run.pipe.add_frame(protocol::reply("late", protocol::StopBroadcast{}));
    run.services.parent_gone = true;
  };
  ASSERT_TRUE(run.run());
  EXPECT_EQ(run.pipe.replies().size(), 2u) << "only the authentication and the shortcut's replies";
  EXPECT_FALSE(run.pipe.incoming.empty()) << "the waiting command was not read";
  EXPECT_EQ(without_idle(run.services.log),
            (std::vector<std::string>{"load", "start monitor 1", "stop monitor 1", "stop broadcast", "release media",
                                      "close pipe"}));
}

TEST(SessionLoop, AClientLeavingInsideABodyFailsTheReadUnlessItsParentIsExiting) {
  const auto frame = ScriptedPipe::frame_of(protocol::encode_envelope(protocol::reply("x", protocol::StopBroadcast{})));
  const std::vector<std::uint8_t> half(frame.begin(), frame.begin() + 7);
  SessionRun lives_on;
  lives_on.authenticated_with({});
  lives_on.pipe.add_bytes(half);
  const auto result = lives_on.run();
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "read helper command: failed to fill whole buffer");
  EXPECT_EQ(lives_on.services.log,
            (std::vector<std::string>{"load", "idle", "wait for the parent 1000 ms", "release media", "close pipe"}));

  SessionRun exiting;
  exiting.services.parent_gone_meanwhile = true;
  exiting.authenticated_with({});
  exiting.pipe.add_bytes(half);
  EXPECT_TRUE(exiting.run());
  EXPECT_EQ(without_idle(exiting.services.log),
            (std::vector<std::string>{"load", "wait for the parent 1000 ms", "stop broadcast", "release media",
                                      "close pipe"}));

  SessionRun in_header;  // inside a header the stream's end is a leave, as between frames
  in_header.authenticated_with({});
  in_header.pipe.add_bytes({frame[0], frame[1], frame[2]});
  EXPECT_TRUE(in_header.run());
}

TEST(SessionLoop, OtherPollAndReadFailuresEndTheSession) {
  SessionRun poll;
  poll.authenticated_with({});
  // The first frame is read without a poll; the first poll after it fails with "access denied".
  poll.pipe.peek_failure = protocol::TransportError{5, "Access is denied. (os error 5)"};
  auto result = poll.run();
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "poll named pipe: Access is denied. (os error 5)");
  EXPECT_EQ(poll.services.log, (std::vector<std::string>{"load", "release media", "close pipe"}));

  SessionRun oversized;
  oversized.authenticated_with({});
  oversized.pipe.add_bytes({0x01, 0x00, 0x10, 0x00});
  result = oversized.run();
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "poll named pipe: protobuf frame length is invalid");

  SessionRun undecodable;
  undecodable.authenticated_with({});
  undecodable.pipe.add_bytes(ScriptedPipe::frame_of({0x12, 0x01, 0x61}));
  result = undecodable.run();
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "read helper command: envelope command is missing");
}

TEST(SessionLoop, SupervisionEventsBecomeFramesWithoutRequestIds) {
  SessionRun run;
  protocol::BroadcastStats stats;
  stats.frames_per_second = 59.5;
  stats.encoder = "x264enc";
  run.services.supervision = {BroadcastEnded{}, stats, protocol::BroadcastRecovery{"screen-capture", "wgc", false},
                              BroadcastFailed{"encoder died"}};
  run.pipe.client_stays = true;
  int idles = 0;
  std::function<void()> keep_going = [&] {
    if (++idles < 4) {
      run.services.on_idle = keep_going;
    } else {
      run.pipe.client_stays = false;
    }
  };
  run.services.on_idle = keep_going;
  run.authenticated_with({});
  ASSERT_TRUE(run.run());
  const auto replies = run.pipe.replies();
  ASSERT_EQ(replies.size(), 5u);
  for (std::size_t i = 1; i < replies.size(); ++i) {
    EXPECT_EQ(replies[i].request_id, "");
  }
  EXPECT_EQ(member<protocol::HelperStatus>(replies[1]), (protocol::HelperStatus{true, "ended", ""}));
  EXPECT_EQ(member<protocol::BroadcastStats>(replies[2]), stats);
  EXPECT_EQ(member<protocol::BroadcastRecovery>(replies[3]),
            (protocol::BroadcastRecovery{"screen-capture", "wgc", true}));
  EXPECT_EQ(member<protocol::HelperError>(replies[4]),
            (protocol::HelperError{"MEDIA_PIPELINE_FAILED", "encoder died", true}));
}

TEST(SessionLoop, AFailedEventWriteEndsTheSession) {
  SessionRun run;
  run.pipe.fail_writes_after = 2;  // header and body of "authenticated" go out, the event does not
  run.services.supervision = {BroadcastEnded{}};
  run.authenticated_with({});
  const auto result = run.run();
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "write helper response: The pipe is being closed. (os error 232)");
  EXPECT_EQ(run.services.log, (std::vector<std::string>{"load", "release media", "close pipe"}));
}

// ---- key chords ----

protocol::ConfigureGlobalPtt ptt_on(std::vector<std::uint32_t> keys) {
  protocol::ConfigureGlobalPtt command;
  command.enabled = true;
  command.virtual_key_codes = std::move(keys);
  return command;
}

TEST(SessionChords, MicrophoneEventsAreWrittenBeforePushToTalkEvents) {
  SessionRun run;
  protocol::ConfigureMicrophoneShortcut mic;
  mic.enabled = true;
  mic.virtual_key_code = 0x7B;
  run.authenticated_with({protocol::reply("p", ptt_on({0x11})), protocol::reply("m", mic)});
  run.pipe.client_stays = true;
  run.services.on_idle = [&] {
    ASSERT_EQ(run.services.monitors.size(), 2u);
    run.services.monitors[0]->sender_.send({true, 1});   // push-to-talk
    run.services.monitors[1]->sender_.send({true, 2});   // microphone shortcut
    run.services.monitors[0]->sender_.send({false, 3});  // push-to-talk
    run.pipe.client_stays = false;
  };
  ASSERT_TRUE(run.run());
  const auto replies = run.pipe.replies();
  ASSERT_EQ(replies.size(), 6u);
  EXPECT_EQ(member<protocol::HelperStatus>(replies[1]).status, "global-ptt-enabled");
  EXPECT_EQ(member<protocol::HelperStatus>(replies[2]).status, "microphone-shortcut-enabled");
  EXPECT_EQ(member<protocol::MicrophoneShortcutEvent>(replies[3]).timestamp_unix_ms, 2u);
  EXPECT_EQ(member<protocol::GlobalPttEvent>(replies[4]), (protocol::GlobalPttEvent{{true, 1}}));
  EXPECT_EQ(member<protocol::GlobalPttEvent>(replies[5]), (protocol::GlobalPttEvent{{false, 3}}));
  EXPECT_EQ(replies[5].request_id, "");
  EXPECT_EQ(run.services.last_keys, std::vector<std::uint32_t>{0x7B}) << "the single key stands for the chord";
}

TEST(SessionChords, ReconfiguringWhileHeldReleasesAfterTheReply) {
  SessionRun run;
  run.authenticated_with({protocol::reply("p1", ptt_on({0x11}))});
  run.pipe.client_stays = true;
  run.services.on_idle = [&] {
    run.services.monitors[0]->held = true;
    run.pipe.add_frame(protocol::reply("p2", ptt_on({0x12, 0x11})));
    run.services.on_idle = [&] { run.pipe.client_stays = false; };
  };
  ASSERT_TRUE(run.run());
  const auto replies = run.pipe.replies();
  ASSERT_EQ(replies.size(), 4u);
  EXPECT_EQ(replies[2].request_id, "p2");
  EXPECT_EQ(member<protocol::HelperStatus>(replies[2]).status, "global-ptt-enabled");
  EXPECT_EQ(member<protocol::GlobalPttEvent>(replies[3]), (protocol::GlobalPttEvent{{false, 99}}));
  EXPECT_EQ(without_idle(run.services.log),
            (std::vector<std::string>{"load", "start monitor 1", "stop monitor 1", "start monitor 2", "stop monitor 2",
                                      "stop broadcast", "release media", "close pipe"}));
}

TEST(SessionChords, ARejectedConfigurationLeavesTheFunctionDisabled) {
  SessionRun run;
  run.authenticated_with({protocol::reply("ok", ptt_on({0x11})), protocol::reply("bad", ptt_on({0x11, 255}))});
  ASSERT_TRUE(run.run());
  const auto replies = run.pipe.replies();
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(
      member<protocol::HelperError>(replies[2]),
      (protocol::HelperError{"GLOBAL_PTT_CONFIGURATION_FAILED", "virtual key codes must be between 1 and 254", false}));
  EXPECT_EQ(without_idle(run.services.log), (std::vector<std::string>{"load", "start monitor 1", "stop monitor 1",
                                                                      "stop broadcast", "release media", "close pipe"}))
      << "no monitor is left to stop at the end";
}

TEST(SessionChords, DisablingAnswersDisabledWhetherOrNotAMonitorRan) {
  SessionRun run;
  protocol::ConfigureGlobalPtt off;
  protocol::ConfigureMicrophoneShortcut mic_off;
  run.authenticated_with({protocol::reply("1", off), protocol::reply("2", ptt_on({0x20})), protocol::reply("3", off),
                          protocol::reply("4", mic_off)});
  ASSERT_TRUE(run.run());
  const auto replies = run.pipe.replies();
  ASSERT_EQ(replies.size(), 5u);
  EXPECT_EQ(member<protocol::HelperStatus>(replies[1]).status, "global-ptt-disabled");
  EXPECT_EQ(member<protocol::HelperStatus>(replies[3]).status, "global-ptt-disabled");
  EXPECT_EQ(member<protocol::HelperStatus>(replies[4]).status, "microphone-shortcut-disabled");
  EXPECT_EQ(run.services.monitors_started, 1);
}

// ---- shutdown ----

TEST(SessionShutdown, TheClientLeavingStopsMonitorsThenBroadcastThenMediaThenPipe) {
  SessionRun run;
  protocol::ConfigureMicrophoneShortcut mic;
  mic.enabled = true;
  mic.virtual_key_codes = {0x10, 0x4D};
  run.authenticated_with({protocol::reply("m", mic), protocol::reply("p", ptt_on({0x11}))});
  run.pipe.client_stays = true;
  run.services.on_idle = [&] {
    run.services.monitors[1]->held = true;  // its final release is discarded with the channel
    run.pipe.client_stays = false;
  };
  ASSERT_TRUE(run.run());
  EXPECT_EQ(without_idle(run.services.log),
            (std::vector<std::string>{"load", "start monitor 1", "start monitor 2", "stop monitor 2", "stop monitor 1",
                                      "stop broadcast", "release media", "close pipe"}));
  EXPECT_EQ(run.pipe.replies().size(), 3u);
  EXPECT_EQ(run.closes, 1);
}

TEST(SessionShutdown, AnErrorStopsTheMicrophoneShortcutFirstAndSkipsTheSeparateStop) {
  SessionRun run;
  protocol::ConfigureMicrophoneShortcut mic;
  mic.enabled = true;
  mic.virtual_key_code = 0x7B;
  run.authenticated_with({protocol::reply("p", ptt_on({0x11})), protocol::reply("m", mic),
                          protocol::reply("no/slash", protocol::StopBroadcast{})});
  const auto result = run.run();
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "request ID is invalid");
  EXPECT_EQ(without_idle(run.services.log),
            (std::vector<std::string>{"load", "start monitor 1", "start monitor 2", "stop monitor 2", "stop monitor 1",
                                      "release media", "close pipe"}));
  EXPECT_EQ(run.closes, 1);
}

}  // namespace
}  // namespace corvane::helper
