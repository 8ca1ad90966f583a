// The message schema: envelope rules, byte-exact encodings of the helper's messages, reply builders.
#include <gtest/gtest.h>

#include "hex.h"
#include "protocol/messages.h"

namespace corvane::protocol {
namespace {

using corvane::testing::hex;
using corvane::testing::to_hex;

HelperEnvelope decode_ok(std::string_view bytes, Sender sender = Sender::client) {
  const auto data = hex(bytes);
  auto result = decode_envelope(data, sender);
  if (!result) {
    ADD_FAILURE() << "decoding failed: " << proto_error_message(result.error());
    return {};
  }
  return std::move(result).value();
}

std::string decode_error(std::string_view bytes, Sender sender = Sender::client) {
  const auto data = hex(bytes);
  const auto result = decode_envelope(data, sender);
  return result ? "ok" : std::string(proto_error_message(result.error()));
}

// Frame = 4-byte little-endian length, then the body.
std::string frame_hex(const HelperEnvelope& envelope) {
  auto body = encode_envelope(envelope);
  std::vector<std::uint8_t> frame = {
      static_cast<std::uint8_t>(body.size()), static_cast<std::uint8_t>(body.size() >> 8),
      static_cast<std::uint8_t>(body.size() >> 16), static_cast<std::uint8_t>(body.size() >> 24)};
  frame.insert(frame.end(), body.begin(), body.end());
  return to_hex(frame);
}

TEST(WorkedExamples, ListCaptureSourcesCommand) {
  EXPECT_EQ(frame_hex(reply("r3", ListCaptureSources{})), "08 00 00 00 08 01 12 02 72 33 6A 00");
  const auto envelope = decode_ok("08 01 12 02 72 33 6A 00");
  EXPECT_EQ(envelope.contract_version, 1u);
  EXPECT_EQ(envelope.request_id, "r3");
  EXPECT_TRUE(std::holds_alternative<ListCaptureSources>(envelope.payload));
}

TEST(WorkedExamples, IdleStatusReply) {
  EXPECT_EQ(frame_hex(status_reply("r1", status_word::idle)),
            "11 00 00 00 08 01 12 02 72 31 AA 01 08 08 01 12 04 69 64 6C 65");
}

TEST(EnvelopeDecoding, ACommandMemberIsRequired) {
  EXPECT_EQ(decode_error("08 01 12 02 72 31"), "envelope command is missing");
  EXPECT_EQ(decode_error(""), "envelope command is missing");
  // The helper's own members are unknown fields in a client frame.
  EXPECT_EQ(decode_error("08 01 12 02 72 31 AA 01 02 08 01"), "envelope command is missing");
  EXPECT_EQ(decode_error("62 00"), "envelope command is missing");  // MediaCapabilities (12)
  // Field numbers beyond the payload range are unknown too.
  EXPECT_EQ(decode_error("D2 01 00"), "envelope command is missing");  // field 26
}

TEST(EnvelopeDecoding, TheLastMemberWins) {
  const auto envelope = decode_ok("08 01 12 02 72 31 82 01 00 6A 00");
  EXPECT_TRUE(std::holds_alternative<ListCaptureSources>(envelope.payload));
  // A later member of the same kind starts afresh instead of merging.
  const auto ptt = decode_ok("8A 01 04 08 01 10 11 8A 01 02 18 41");
  const auto& configure = std::get<ConfigureGlobalPtt>(ptt.payload);
  EXPECT_FALSE(configure.enabled);
  EXPECT_EQ(configure.virtual_key_code, 0u);
  EXPECT_EQ(configure.virtual_key_codes, std::vector<std::uint32_t>{0x41});
}

TEST(EnvelopeDecoding, AbsentVersionAndRequestIdReadAsDefaults) {
  const auto envelope = decode_ok("82 01 00");
  EXPECT_EQ(envelope.contract_version, 0u);
  EXPECT_EQ(envelope.request_id, "");
  EXPECT_TRUE(std::holds_alternative<StopBroadcast>(envelope.payload));
}

TEST(EnvelopeDecoding, EveryClientCommand) {
  // Authenticate: nonce 32 bytes, parent 4242.
  const auto auth = decode_ok(
      "08 01 12 01 61 52 25 0A 20 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 17 18 19 1A 1B "
      "1C 1D 1E 1F 10 92 21");
  const auto& authenticate = std::get<Authenticate>(auth.payload);
  ASSERT_EQ(authenticate.nonce.size(), 32u);
  EXPECT_EQ(authenticate.nonce[31], 0x1F);
  EXPECT_EQ(authenticate.parent_process_id, 4242u);

  EXPECT_TRUE(std::holds_alternative<GetMediaCapabilities>(decode_ok("5A 00").payload));

  const auto update = decode_ok("BA 01 12 0A 04 73 61 66 65 10 80 0F 18 B8 08 20 3C 28 00 30 40");
  const auto& profile = std::get<UpdateBroadcastProfile>(update.payload);
  EXPECT_EQ(profile, (UpdateBroadcastProfile{"safe", 1920, 1080, 60, 0, 64}));

  const auto mic = decode_ok("C2 01 04 08 01 10 7B");
  const auto& shortcut = std::get<ConfigureMicrophoneShortcut>(mic.payload);
  EXPECT_TRUE(shortcut.enabled);
  EXPECT_EQ(shortcut.chord(), std::vector<std::uint32_t>{0x7B});
}

TEST(EnvelopeDecoding, StartBroadcastCarriesAllThirteenValues) {
  StartBroadcast start;
  start.capture_source_id = "monitor:65537";
  start.whip_url = "https://live.example/whip";
  start.stream_key = "k3y";
  start.width = 1920;
  start.height = 1080;
  start.frame_rate = 60;
  start.video_bitrate_kbps = 6000;
  start.system_audio = true;
  start.exclude_app_audio = true;
  start.microphone_device_id = "{0.0.1.00000000}.{mic}";
  start.profile_id = "gaming";
  start.auto_profile = true;
  start.audio_bitrate_kbps = 128;
  const auto body = encode_envelope(reply("s-1", start));
  const auto decoded = decode_envelope(body, Sender::client);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(std::get<StartBroadcast>(decoded->payload), start);
  EXPECT_EQ(decoded->request_id, "s-1");
}

TEST(KeyChords, TheListWinsOverTheSingleKey) {
  KeyChordConfiguration single{true, 0x11, {}};
  EXPECT_EQ(single.chord(), std::vector<std::uint32_t>{0x11});
  KeyChordConfiguration both{true, 0x11, {0x12, 0x41}};
  EXPECT_EQ(both.chord(), (std::vector<std::uint32_t>{0x12, 0x41}));
  KeyChordConfiguration none{true, 0, {}};
  EXPECT_TRUE(none.chord().empty());
  const auto decoded = decode_ok("8A 01 04 08 01 10 11");
  EXPECT_EQ(std::get<ConfigureGlobalPtt>(decoded.payload).chord(), std::vector<std::uint32_t>{0x11});
}

TEST(EnvelopeEncoding, EventsHaveNoRequestId) {
  GlobalPttEvent pressed;
  pressed.pressed = true;
  pressed.timestamp_unix_ms = 1700000000000;
  EXPECT_EQ(to_hex(encode_envelope(event(pressed))), "08 01 B2 01 09 08 01 10 80 D0 95 FF BC 31");
  EXPECT_EQ(to_hex(encode_envelope(event(MicrophoneShortcutEvent{}))), "08 01 CA 01 00");
}

TEST(EnvelopeEncoding, EmptyMembersKeepTheirTag) {
  EXPECT_EQ(to_hex(encode_envelope(reply("a", StopBroadcast{}))), "08 01 12 01 61 82 01 00");
  EXPECT_EQ(to_hex(encode_envelope(event(HelperStatus{}))), "08 01 AA 01 00");
}

TEST(EnvelopeEncoding, MediaCapabilitiesStartsWithOkAndSortsReasons) {
  MediaCapabilities caps;
  caps.ok = true;
  caps.windows_graphics_capture_available = false;
  caps.system_audio_available = true;
  caps.always_true = true;
  caps.usable_encoders = {"x264enc"};
  caps.active_encoder = "x264enc";
  caps.active_probe_profile = "p";
  caps.unavailable_reasons = {{"windowsGraphicsCapture", "w"}, {"systemAudio", "s"}};
  caps.runtime_version = "1";
  caps.active_encoder_kind = "software";
  caps.allowed_profile_ids = {"safe"};
  caps.encoders = {EncoderInfo{"x264enc", true, "software", "p", "cbr", ""}, EncoderInfo{}};
  const std::string expected =
      "08 01 "
      "62 7E "                                                  // member 12, 126 bytes
      "60 01 "                                                  // 12 ok
      "10 01 18 01 "                                            // 2, 3
      "22 07 78 32 36 34 65 6E 63 "                             // 4
      "2A 07 78 32 36 34 65 6E 63 "                             // 5
      "32 01 70 "                                               // 6
      "3A 10 0A 0B 73 79 73 74 65 6D 41 75 64 69 6F 12 01 73 "  // 7 systemAudio
      "3A 1B 0A 16 77 69 6E 64 6F 77 73 47 72 61 70 68 69 63 73 43 61 70 74 75 72 65 12 01 77 "
      "42 01 31 "                       // 8
      "4A 08 73 6F 66 74 77 61 72 65 "  // 9
      "52 04 73 61 66 65 "              // 10
      "5A 1D 0A 07 78 32 36 34 65 6E 63 10 01 1A 08 73 6F 66 74 77 61 72 65 22 01 70 2A 03 63 62 72 "
      "5A 00";  // 11, the empty record too
  EXPECT_EQ(to_hex(encode_envelope(event(caps))), expected);
  // Read back by the client side, every field survives.
  const auto body = encode_envelope(event(caps));
  const auto decoded = decode_envelope(body, Sender::helper);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(std::get<MediaCapabilities>(decoded->payload), caps);
}

TEST(EnvelopeEncoding, StatisticsAndRecovery) {
  BroadcastStats stats;
  stats.frames_per_second = 0.0;
  stats.bitrate_bps = 300;
  stats.average_latency_ms = 0.5;
  stats.encoder = "x264enc";
  stats.recovery_reason = "none";
  EXPECT_EQ(to_hex(encode_envelope(event(stats))),
            "08 01 92 01 1B 10 AC 02 19 00 00 00 00 00 00 E0 3F 2A 07 78 32 36 34 65 6E 63 42 04 6E 6F 6E 65");
  EXPECT_EQ(to_hex(encode_envelope(recovery_event("screen-capture", "wgc"))),
            "08 01 9A 01 17 0A 0E 73 63 72 65 65 6E 2D 63 61 70 74 75 72 65 12 03 77 67 63 18 01");
}

TEST(EnvelopeEncoding, CaptureSourceListWritesEveryEntryAndNoExtra) {
  CaptureSourceList list;
  list.sources = {CaptureSource{"monitor:1", "monitor", "m", ""}, CaptureSource{}};
  EXPECT_EQ(to_hex(encode_envelope(reply("q", list))),
            "08 01 12 01 71 72 1B 0A 17 0A 09 6D 6F 6E 69 74 6F 72 3A 31 12 07 6D 6F 6E 69 74 6F 72 1A 01 6D 0A 00");
}

TEST(HelperDecoding, ClientMembersAreUnknownToTheClientSide) {
  EXPECT_EQ(decode_error("6A 00", Sender::helper), "envelope command is missing");
  const auto status = decode_ok("08 01 AA 01 08 08 01 12 04 69 64 6C 65", Sender::helper);
  EXPECT_EQ(std::get<HelperStatus>(status.payload), (HelperStatus{true, "idle", ""}));
}

TEST(ErrorCodes, TextsRetryFlagsAndFixedMessages) {
  struct Row {
    HelperErrorCode code;
    const char* text;
    bool retryable;
  };
  const Row rows[] = {
      {HelperErrorCode::authentication_required, "AUTHENTICATION_REQUIRED", false},
      {HelperErrorCode::authentication_failed, "AUTHENTICATION_FAILED", false},
      {HelperErrorCode::already_authenticated, "ALREADY_AUTHENTICATED", false},
      {HelperErrorCode::contract_version_unsupported, "CONTRACT_VERSION_UNSUPPORTED", false},
      {HelperErrorCode::capture_source_enumeration_failed, "CAPTURE_SOURCE_ENUMERATION_FAILED", true},
      {HelperErrorCode::broadcast_start_failed, "BROADCAST_START_FAILED", false},
      {HelperErrorCode::broadcast_profile_update_failed, "BROADCAST_PROFILE_UPDATE_FAILED", true},
      {HelperErrorCode::global_ptt_configuration_failed, "GLOBAL_PTT_CONFIGURATION_FAILED", false},
      {HelperErrorCode::microphone_shortcut_failed, "MICROPHONE_SHORTCUT_FAILED", false},
      {HelperErrorCode::media_pipeline_failed, "MEDIA_PIPELINE_FAILED", true},
  };
  for (const Row& row : rows) {
    const auto envelope = error_reply("r9", row.code, "cause");
    const auto& error = std::get<HelperError>(envelope.payload);
    EXPECT_EQ(error.code, row.text);
    EXPECT_EQ(error.retryable, row.retryable) << row.text;
    EXPECT_EQ(error.message, "cause");
    EXPECT_EQ(envelope.request_id, "r9");
  }
  EXPECT_EQ(std::get<HelperError>(error_reply("a", HelperErrorCode::authentication_required).payload).message,
            "Authenticate must be the first helper command");
  EXPECT_EQ(std::get<HelperError>(error_reply("a", HelperErrorCode::authentication_failed).payload).message,
            "helper authentication failed");
  EXPECT_EQ(std::get<HelperError>(error_reply("a", HelperErrorCode::already_authenticated).payload).message,
            "the helper connection is already authenticated");
  EXPECT_EQ(std::get<HelperError>(error_reply("a", HelperErrorCode::contract_version_unsupported).payload).message,
            "native helper contract version is unsupported");
  const auto failure = error_event(HelperErrorCode::media_pipeline_failed, "gone");
  EXPECT_EQ(
      to_hex(encode_envelope(failure)),
      "08 01 A2 01 1F 0A 15 4D 45 44 49 41 5F 50 49 50 45 4C 49 4E 45 5F 46 41 49 4C 45 44 12 04 67 6F 6E 65 18 01");
}

TEST(StatusBuilders, RepliesAndEvents) {
  const auto reply_envelope = status_reply("x", status_word::broadcasting, "x264enc");
  EXPECT_EQ(std::get<HelperStatus>(reply_envelope.payload), (HelperStatus{true, "broadcasting", "x264enc"}));
  const auto ended = status_event(status_word::ended);
  EXPECT_EQ(ended.request_id, "");
  EXPECT_EQ(std::get<HelperStatus>(ended.payload), (HelperStatus{true, "ended", ""}));
}

}  // namespace
}  // namespace corvane::protocol
