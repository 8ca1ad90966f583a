// The output lines: one JSON object per frame, every field in field-number order, exact bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

#include "helperctl/json.h"
#include "protocol/messages.h"

namespace corvane::helperctl {
namespace {

namespace p = corvane::protocol;

std::string json_string(std::string_view text) {
  std::string out;
  append_json_string(out, text);
  return out;
}

std::string json_double(double value) {
  std::string out;
  append_json_double(out, value);
  return out;
}

p::HelperEnvelope envelope(std::string request_id, p::Payload payload) {
  p::HelperEnvelope e;
  e.request_id = std::move(request_id);
  e.payload = std::move(payload);
  return e;
}

TEST(helperctlJsonString, EscapesQuotesBackslashesAndControlCharacters) {
  EXPECT_EQ(json_string(R"(a"b\c/d)"), R"("a\"b\\c/d")");
  EXPECT_EQ(json_string(std::string("\x01\n\r\t\x1f\x7f", 6)), R"("\u0001\u000a\u000d\u0009\u001f\u007f")");
  EXPECT_EQ(json_string(std::string("a\0b", 3)), R"("a\u0000b")");
  EXPECT_EQ(json_string(""), R"("")");
  EXPECT_EQ(json_string(" ~"), R"(" ~")");
}

TEST(helperctlJsonString, WritesNonAsciiAsUtf8) {
  EXPECT_EQ(json_string("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"), "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\"");
  EXPECT_EQ(json_string("\xC2\x80\xC2\x9F"), "\"\xC2\x80\xC2\x9F\"");  // C1 controls are plain UTF-8
}

TEST(helperctlJsonString, ReplacesIllFormedUtf8) {
  EXPECT_EQ(json_string("a\xFF"
                        "b"),
            "\"a\xEF\xBF\xBD"
            "b\"");
  EXPECT_EQ(json_string("\xC3"), "\"\xEF\xBF\xBD\"");
  EXPECT_EQ(json_string("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
}

TEST(helperctlJsonDouble, WritesTheShortestFormThatReadsBack) {
  EXPECT_EQ(json_double(0.0), "0");
  EXPECT_EQ(json_double(30.0), "30");
  EXPECT_EQ(json_double(29.97), "29.97");
  EXPECT_EQ(json_double(0.1), "0.1");
  EXPECT_EQ(json_double(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(json_double(-12.5), "-12.5");
  EXPECT_EQ(json_double(1e21), "1e+21");
  EXPECT_EQ(json_double(5e-324), "5e-324");
  for (const double value :
       {29.97, 1.0 / 3.0, 123456.789, 2.5e-8, std::numeric_limits<double>::max(), std::numeric_limits<double>::min()}) {
    const std::string text = json_double(value);
    EXPECT_EQ(std::strtod(text.c_str(), nullptr), value) << text;
  }
}

TEST(helperctlJsonDouble, WritesNonFiniteValuesAsStrings) {
  EXPECT_EQ(json_double(std::numeric_limits<double>::quiet_NaN()), R"("NaN")");
  EXPECT_EQ(json_double(std::numeric_limits<double>::infinity()), R"("Infinity")");
  EXPECT_EQ(json_double(-std::numeric_limits<double>::infinity()), R"("-Infinity")");
  EXPECT_EQ(json_double(-0.0), "-0");
}

TEST(helperctlJsonLine, HelperStatus) {
  EXPECT_EQ(envelope_json_line(p::status_reply("auth", p::status_word::authenticated)),
            R"({"request_id":"auth","helper_status":{"ok":true,"status":"authenticated","detail":""}})");
  EXPECT_EQ(envelope_json_line(envelope("", p::HelperStatus{})),
            R"({"request_id":"","helper_status":{"ok":false,"status":"","detail":""}})");
}

TEST(helperctlJsonLine, HelperError) {
  EXPECT_EQ(
      envelope_json_line(envelope("2", p::HelperError{"BROADCAST_START_FAILED", "no \"m9\"\nsource", true})),
      R"({"request_id":"2","helper_error":{"code":"BROADCAST_START_FAILED","message":"no \"m9\"\u000asource","retryable":true}})");
}

TEST(helperctlJsonLine, MediaCapabilitiesWithDefaults) {
  EXPECT_EQ(envelope_json_line(envelope("1", p::MediaCapabilities{})),
            R"({"request_id":"1","media_capabilities":{"windows_graphics_capture_available":false,)"
            R"("system_audio_available":false,"always_true":false,"usable_encoders":[],"active_encoder":"",)"
            R"("active_probe_profile":"","unavailable_reasons":{},"runtime_version":"","active_encoder_kind":"",)"
            R"("allowed_profile_ids":[],"encoders":[],"ok":false}})");
}

TEST(helperctlJsonLine, MediaCapabilitiesInFieldNumberOrder) {
  p::MediaCapabilities caps;
  caps.ok = true;
  caps.windows_graphics_capture_available = true;
  caps.always_true = true;
  caps.usable_encoders = {"x264enc", "nvh264enc"};
  caps.active_encoder = "x264enc";
  caps.active_probe_profile = "540p30";
  caps.unavailable_reasons = {{"systemAudio", "no \\ loopback"}, {"windowsGraphicsCapture", "old"}};
  caps.runtime_version = "1.22.0";
  caps.active_encoder_kind = "software";
  caps.allowed_profile_ids = {"540p30", "1080p60"};
  caps.encoders = {{"x264enc", true, "software", "540p30", "cbr", ""}, {"nvh264enc", false, "nvidia", "", "", "none"}};
  EXPECT_EQ(envelope_json_line(envelope("7", caps)),
            R"({"request_id":"7","media_capabilities":{"windows_graphics_capture_available":true,)"
            R"("system_audio_available":false,"always_true":true,"usable_encoders":["x264enc","nvh264enc"],)"
            R"("active_encoder":"x264enc","active_probe_profile":"540p30",)"
            R"("unavailable_reasons":{"systemAudio":"no \\ loopback","windowsGraphicsCapture":"old"},)"
            R"("runtime_version":"1.22.0","active_encoder_kind":"software","allowed_profile_ids":["540p30","1080p60"],)"
            R"("encoders":[{"name":"x264enc","usable":true,"kind":"software","probe_profile":"540p30",)"
            R"("rate_control":"cbr","note":""},{"name":"nvh264enc","usable":false,"kind":"nvidia",)"
            R"("probe_profile":"","rate_control":"","note":"none"}],"ok":true}})");
}

TEST(helperctlJsonLine, MapKeysInByteOrder) {
  p::MediaCapabilities caps;
  caps.unavailable_reasons = {{"b", "1"}, {"\xC3\xA9", "2"}, {"B", "3"}, {"a", "4"}, {"", "5"}};
  const std::string line = envelope_json_line(envelope("", caps));
  EXPECT_NE(line.find("\"unavailable_reasons\":{\"\":\"5\",\"B\":\"3\",\"a\":\"4\",\"b\":\"1\",\"\xC3\xA9\":\"2\"}"),
            std::string::npos)
      << line;
}

TEST(helperctlJsonLine, CaptureSourceList) {
  p::CaptureSourceList list;
  list.sources = {{"monitor:0", "monitor", "\\\\.\\DISPLAY1", "1920x1080"},
                  {"window:0x1a2b", "window", "Caf\xC3\xA9 \x01", ""}};
  EXPECT_EQ(envelope_json_line(envelope("2", list)),
            R"({"request_id":"2","capture_source_list":{"sources":[)"
            R"({"id":"monitor:0","kind":"monitor","name":"\\\\.\\DISPLAY1","extra":"1920x1080"},)"
            "{\"id\":\"window:0x1a2b\",\"kind\":\"window\",\"name\":\"Caf\xC3\xA9 \\u0001\",\"extra\":\"\"}]}}");
  EXPECT_EQ(envelope_json_line(envelope("3", p::CaptureSourceList{})),
            R"({"request_id":"3","capture_source_list":{"sources":[]}})");
}

TEST(helperctlJsonLine, BroadcastStats) {
  p::BroadcastStats stats;
  stats.frames_per_second = 29.97;
  stats.bitrate_bps = 18446744073709551615ULL;
  stats.average_latency_ms = 12.5;
  stats.dropped_frames = 3;
  stats.encoder = "x264enc";
  stats.profile_id = "720p30";
  stats.encoder_kind = "software";
  EXPECT_EQ(envelope_json_line(envelope("", stats)),
            R"({"request_id":"","broadcast_stats":{"frames_per_second":29.97,"bitrate_bps":18446744073709551615,)"
            R"("average_latency_ms":12.5,"dropped_frames":3,"encoder":"x264enc","profile_id":"720p30",)"
            R"("encoder_kind":"software","recovery_reason":""}})");
}

TEST(helperctlJsonLine, BroadcastRecovery) {
  EXPECT_EQ(envelope_json_line(p::recovery_event("encoder", "nvh264enc failed; x264enc")),
            R"({"request_id":"","broadcast_recovery":{"component":"encoder","detail":"nvh264enc failed; x264enc",)"
            R"("succeeded":true}})");
}

TEST(helperctlJsonLine, KeyChordEvents) {
  p::GlobalPttEvent ptt;
  ptt.pressed = true;
  ptt.timestamp_unix_ms = 1733600000123ULL;
  EXPECT_EQ(envelope_json_line(envelope("", ptt)),
            R"({"request_id":"","global_ptt_event":{"pressed":true,"timestamp_unix_ms":1733600000123}})");
  p::MicrophoneShortcutEvent mic;
  mic.timestamp_unix_ms = 42;
  EXPECT_EQ(envelope_json_line(envelope("", mic)),
            R"({"request_id":"","microphone_shortcut_event":{"pressed":false,"timestamp_unix_ms":42}})");
}

TEST(helperctlJsonLine, ClientMembersAreWrittenTheSameWay) {
  p::Authenticate auth;
  auth.nonce = {0x00, 0xAB, 0x7F};
  auth.parent_process_id = 4242;
  EXPECT_EQ(envelope_json_line(envelope("auth", auth)),
            R"({"request_id":"auth","authenticate":{"nonce":"00ab7f","parent_process_id":4242}})");
  p::ConfigureGlobalPtt ptt;
  ptt.enabled = true;
  ptt.virtual_key_codes = {17, 113};
  EXPECT_EQ(envelope_json_line(envelope("4", ptt)),
            R"({"request_id":"4","configure_global_ptt":{"enabled":true,"virtual_key_code":0,)"
            R"("virtual_key_codes":[17,113]}})");
  EXPECT_EQ(envelope_json_line(envelope("5", p::StopBroadcast{})), R"({"request_id":"5","stop_broadcast":{}})");
  p::UpdateBroadcastProfile update;
  update.profile_id = "540p30";
  update.frame_rate = 30;
  EXPECT_EQ(envelope_json_line(envelope("6", update)),
            R"({"request_id":"6","update_broadcast_profile":{"profile_id":"540p30","width":0,"height":0,)"
            R"("frame_rate":30,"video_bitrate_kbps":0,"audio_bitrate_kbps":0}})");
}

TEST(helperctlJsonLine, EscapesTheRequestId) {
  EXPECT_EQ(envelope_json_line(envelope("a\"\\\n", p::HelperStatus{})),
            R"({"request_id":"a\"\\\u000a","helper_status":{"ok":false,"status":"","detail":""}})");
}

TEST(helperctlJsonLine, EveryLineReadsBackAsOneObject) {
  // A decoded line must be one well-formed JSON object: the reader of start/update refuses nested
  // values, so check the outer structure by hand: braces and brackets balance outside strings.
  const p::HelperEnvelope samples[] = {p::status_reply("1", p::status_word::idle), envelope("", p::MediaCapabilities{}),
                                       envelope("2", p::CaptureSourceList{{{"m", "monitor", "x\"}{", "]"}}}),
                                       p::recovery_event("a", "}\\")};
  for (const auto& sample : samples) {
    const std::string line = envelope_json_line(sample);
    int depth = 0;
    bool in_string = false;
    bool escaped = false;
    int closed_at_top = 0;
    for (const char c : line) {
      if (in_string) {
        if (escaped) {
          escaped = false;
        } else if (c == '\\') {
          escaped = true;
        } else if (c == '"') {
          in_string = false;
        }
        continue;
      }
      if (c == '"') {
        in_string = true;
      } else if (c == '{' || c == '[') {
        ++depth;
      } else if (c == '}' || c == ']') {
        --depth;
        if (depth == 0) {
          ++closed_at_top;
        }
      }
      EXPECT_GE(depth, 0) << line;
    }
    EXPECT_EQ(depth, 0) << line;
    EXPECT_EQ(closed_at_top, 1) << line;
    EXPECT_FALSE(in_string) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace corvane::helperctl
