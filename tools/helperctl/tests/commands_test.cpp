// helperctl's command line: options, every command, request numbering, and the refusals.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "helperctl/commands.h"

namespace corvane::helperctl {
namespace {

namespace p = corvane::protocol;

Invocation parsed(std::initializer_list<std::string> words) {
  const std::vector<std::string> list(words);
  auto result = parse_invocation(list);
  if (!result) {
    ADD_FAILURE() << "refused: " << result.error();
    return {};
  }
  return std::move(result).value();
}

std::string refusal(std::initializer_list<std::string> words) {
  const std::vector<std::string> list(words);
  auto result = parse_invocation(list);
  if (result) {
    ADD_FAILURE() << "accepted";
    return {};
  }
  return result.error();
}

Action request(std::string id, p::Payload payload) {
  p::HelperEnvelope envelope;
  envelope.request_id = std::move(id);
  envelope.payload = std::move(payload);
  return SendRequest{std::move(envelope)};
}

p::ConfigureGlobalPtt ptt(bool enabled, std::vector<std::uint32_t> keys) {
  p::ConfigureGlobalPtt message;
  message.enabled = enabled;
  message.virtual_key_codes = std::move(keys);
  return message;
}

p::ConfigureMicrophoneShortcut mic(bool enabled, std::vector<std::uint32_t> keys) {
  p::ConfigureMicrophoneShortcut message;
  message.enabled = enabled;
  message.virtual_key_codes = std::move(keys);
  return message;
}

TEST(helperctlCommandLine, NothingMeansOnlyAuthenticate) {
  const auto invocation = parsed({});
  EXPECT_FALSE(invocation.show_usage);
  EXPECT_TRUE(invocation.helper_path.empty());
  EXPECT_TRUE(invocation.actions.empty());
}

TEST(helperctlCommandLine, HelpAlone) {
  EXPECT_TRUE(parsed({"--help"}).show_usage);
  EXPECT_EQ(refusal({"--help", "caps"}), "--help takes no other arguments");
  EXPECT_EQ(refusal({"caps", "--help"}), "options such as \"--help\" come before the commands");
}

TEST(helperctlCommandLine, HelperPathOption) {
  const auto invocation = parsed({"--helper", "C:\\x y\\h.exe", "caps"});
  EXPECT_EQ(invocation.helper_path, "C:\\x y\\h.exe");
  EXPECT_EQ(invocation.actions, std::vector<Action>{request("1", p::GetMediaCapabilities{})});
  EXPECT_EQ(refusal({"--helper"}), "--helper needs the path of corvane_media_helper.exe");
  EXPECT_EQ(refusal({"--helper", ""}), "--helper needs the path of corvane_media_helper.exe");
  EXPECT_EQ(refusal({"--helper", "a.exe", "--helper", "b.exe"}), "--helper is given more than once");
  EXPECT_EQ(refusal({"caps", "--helper", "a.exe"}), "options such as \"--helper\" come before the commands");
  EXPECT_EQ(refusal({"--verbose"}), "unknown option \"--verbose\" (see helperctl --help)");
}

TEST(helperctlCommandLine, RequestsWithoutArguments) {
  const auto invocation = parsed({"caps", "sources", "stop"});
  const std::vector<Action> expected = {request("1", p::GetMediaCapabilities{}), request("2", p::ListCaptureSources{}),
                                        request("3", p::StopBroadcast{})};
  EXPECT_EQ(invocation.actions, expected);
}

TEST(helperctlCommandLine, OnlyRequestsAreNumbered) {
  const auto invocation = parsed({"watch", "1", "caps", "raw", "00", "read", "sources", "read", "stop"});
  const std::vector<Action> expected = {WatchEvents{1000},
                                        request("1", p::GetMediaCapabilities{}),
                                        WriteRaw{{0x00}},
                                        ReadFrame{},
                                        request("2", p::ListCaptureSources{}),
                                        ReadFrame{},
                                        request("3", p::StopBroadcast{})};
  EXPECT_EQ(invocation.actions, expected);
}

TEST(helperctlCommandLine, StartAndUpdateCarryTheirJson) {
  const auto invocation = parsed({"start", R"({"capture_source_id":"monitor:0","width":1280,"system_audio":true})",
                                  "update", R"({"profile_id":"720p30","frame_rate":30})"});
  p::StartBroadcast start;
  start.capture_source_id = "monitor:0";
  start.width = 1280;
  start.system_audio = true;
  p::UpdateBroadcastProfile update;
  update.profile_id = "720p30";
  update.frame_rate = 30;
  EXPECT_EQ(invocation.actions, (std::vector<Action>{request("1", start), request("2", update)}));
}

TEST(helperctlCommandLine, StartAndUpdateErrorsNameTheCommand) {
  EXPECT_EQ(refusal({"start"}), R"(start needs a JSON object argument, e.g. start '{"width":1280}')");
  EXPECT_EQ(refusal({"caps", "update"}), R"(update needs a JSON object argument, e.g. update '{"width":1280}')");
  EXPECT_EQ(refusal({"start", "caps"}), "start: invalid JSON at byte 1: expected '{' to begin an object");
  EXPECT_EQ(refusal({"update", R"({"width":-1})"}), "update: \"width\": -1 is not a whole number from 0 to 4294967295");
}

TEST(helperctlCommandLine, KeyChords) {
  const auto invocation =
      parsed({"ptt", "on", "17", "0x71", "0X12", "mic", "off", "ptt", "off", "mic", "on", "0xA2", "caps"});
  const std::vector<Action> expected = {request("1", ptt(true, {17, 0x71, 0x12})), request("2", mic(false, {})),
                                        request("3", ptt(false, {})), request("4", mic(true, {0xA2})),
                                        request("5", p::GetMediaCapabilities{})};
  EXPECT_EQ(invocation.actions, expected);
}

TEST(helperctlCommandLine, KeyCodesCoverTheWholeFieldRange) {
  // The helper judges the codes; helperctl sends whatever fits the uint32 field.
  const auto invocation = parsed({"ptt", "on", "0", "4294967295", "0xffffffff"});
  EXPECT_EQ(invocation.actions, std::vector<Action>{request("1", ptt(true, {0, 4294967295U, 0xFFFFFFFFU}))});
}

TEST(helperctlCommandLine, KeyChordRefusals) {
  EXPECT_EQ(refusal({"ptt"}), "ptt needs on or off");
  EXPECT_EQ(refusal({"mic", "yes"}), "mic needs on or off, not \"yes\"");
  EXPECT_EQ(refusal({"ptt", "ON"}), "ptt needs on or off, not \"ON\"");
  const std::string suffix = " is not a virtual-key code (decimal or 0x hexadecimal, 0 to 4294967295)";
  EXPECT_EQ(refusal({"ptt", "on", "17", "off"}), "ptt: \"off\"" + suffix);
  EXPECT_EQ(refusal({"mic", "on", "0xZZ"}), "mic: \"0xZZ\"" + suffix);
  EXPECT_EQ(refusal({"ptt", "on", "0x"}), "ptt: \"0x\"" + suffix);
  EXPECT_EQ(refusal({"ptt", "on", "-1"}), "ptt: \"-1\"" + suffix);
  EXPECT_EQ(refusal({"ptt", "on", "+1"}), "ptt: \"+1\"" + suffix);
  EXPECT_EQ(refusal({"ptt", "on", "0x-1"}), "ptt: \"0x-1\"" + suffix);
  EXPECT_EQ(refusal({"ptt", "on", "4294967296"}), "ptt: \"4294967296\"" + suffix);
  EXPECT_EQ(refusal({"ptt", "on", "0x100000000"}), "ptt: \"0x100000000\"" + suffix);
  EXPECT_EQ(refusal({"ptt", "on", "17a"}), "ptt: \"17a\"" + suffix);
  EXPECT_EQ(refusal({"ptt", "on", ""}), "ptt: \"\"" + suffix);
}

TEST(helperctlCommandLine, WatchSeconds) {
  for (const auto& [word, milliseconds] : std::vector<std::pair<std::string, std::uint32_t>>{
           {"0", 0U}, {"5", 5000U}, {"0.5", 500U}, {"1.25", 1250U}, {"1.2345", 1234U}, {"86400", 86400000U}}) {
    EXPECT_EQ(parsed({"watch", word}).actions, std::vector<Action>{WatchEvents{milliseconds}}) << word;
  }
}

TEST(helperctlCommandLine, WatchRefusals) {
  EXPECT_EQ(refusal({"watch"}), "watch needs a number of seconds");
  for (const std::string word : {"86400.001", "86401", "100000", "-1", "abc", "", ".5", "5.", "1e3", "1,5", "0x10"}) {
    EXPECT_EQ(refusal({"watch", word}),
              "watch: \"" + word + "\" is not a number of seconds from 0 to 86400 (e.g. 5 or 0.5)");
  }
}

TEST(helperctlCommandLine, RawBytes) {
  EXPECT_EQ(parsed({"raw", "0400000008016A00"}).actions,
            (std::vector<Action>{WriteRaw{{0x04, 0x00, 0x00, 0x00, 0x08, 0x01, 0x6A, 0x00}}}));
  EXPECT_EQ(parsed({"raw", " 0a 0B ff "}).actions, (std::vector<Action>{WriteRaw{{0x0A, 0x0B, 0xFF}}}));
}

TEST(helperctlCommandLine, RawRefusals) {
  EXPECT_EQ(refusal({"raw"}), "raw needs the bytes to write, as hex digits");
  for (const std::string word : {"", "  ", "0", "abc", "0 4", "zz", "0x04", "04:00"}) {
    EXPECT_EQ(refusal({"raw", word}),
              "raw: \"" + word + "\" is not hex bytes (two hex digits per byte, at least one byte)");
  }
}

TEST(helperctlCommandLine, UnknownCommands) {
  EXPECT_EQ(refusal({"capabilities"}), "unknown command \"capabilities\" (see helperctl --help)");
  EXPECT_EQ(refusal({"caps", "CAPS"}), "unknown command \"CAPS\" (see helperctl --help)");
  EXPECT_EQ(refusal({""}), "unknown command \"\" (see helperctl --help)");
  EXPECT_EQ(refusal({"caps", "\x1b[2J"}), "unknown command \"\\u001b[2J\" (see helperctl --help)");
}

TEST(helperctlStartJson, EveryFieldByItsSchemaName) {
  const auto start = start_broadcast_from_json(
      R"({"capture_source_id":"window:0x1a2b","whip_url":"https://127.0.0.1:8443/whip/e1","stream_key":"k\"ey",)"
      R"("width":1920,"height":1080,"frame_rate":60,"video_bitrate_kbps":6000,"system_audio":true,)"
      R"("exclude_app_audio":true,"microphone_device_id":"{0.0.1.00000000}.{a}","profile_id":"1080p60",)"
      R"("auto_profile":true,"audio_bitrate_kbps":4294967295})");
  ASSERT_TRUE(start) << start.error();
  p::StartBroadcast expected;
  expected.capture_source_id = "window:0x1a2b";
  expected.whip_url = "https://127.0.0.1:8443/whip/e1";
  expected.stream_key = "k\"ey";
  expected.width = 1920;
  expected.height = 1080;
  expected.frame_rate = 60;
  expected.video_bitrate_kbps = 6000;
  expected.system_audio = true;
  expected.exclude_app_audio = true;
  expected.microphone_device_id = "{0.0.1.00000000}.{a}";
  expected.profile_id = "1080p60";
  expected.auto_profile = true;
  expected.audio_bitrate_kbps = 4294967295U;
  EXPECT_EQ(*start, expected);
}

TEST(helperctlStartJson, MissingKeysKeepTheirDefaults) {
  const auto start = start_broadcast_from_json(R"({"height":720,"auto_profile":false})");
  ASSERT_TRUE(start) << start.error();
  p::StartBroadcast expected;
  expected.height = 720;
  EXPECT_EQ(*start, expected);
  const auto empty = start_broadcast_from_json("{}");
  ASSERT_TRUE(empty) << empty.error();
  EXPECT_EQ(*empty, p::StartBroadcast{});
}

TEST(helperctlStartJson, RefusesUnknownKeys) {
  const auto start = start_broadcast_from_json(R"({"width":1,"bitrate":5})");
  ASSERT_FALSE(start);
  EXPECT_EQ(start.error(),
            "unknown key \"bitrate\" (known keys: capture_source_id, whip_url, stream_key, width, height, frame_rate, "
            "video_bitrate_kbps, system_audio, exclude_app_audio, microphone_device_id, profile_id, auto_profile, "
            "audio_bitrate_kbps)");
  // Names are matched exactly.
  EXPECT_FALSE(start_broadcast_from_json(R"({"Width":1})"));
  EXPECT_FALSE(start_broadcast_from_json(R"({"captureSourceId":"m"})"));
}

TEST(helperctlStartJson, RefusesWrongTypes) {
  auto error = [](std::string_view json) {
    const auto start = start_broadcast_from_json(json);
    return start ? std::string("accepted") : start.error();
  };
  EXPECT_EQ(error(R"({"whip_url":5})"), "\"whip_url\" must be a string");
  EXPECT_EQ(error(R"({"stream_key":true})"), "\"stream_key\" must be a string");
  EXPECT_EQ(error(R"({"width":"1280"})"), "\"width\" must be a number");
  EXPECT_EQ(error(R"({"frame_rate":true})"), "\"frame_rate\" must be a number");
  EXPECT_EQ(error(R"({"system_audio":1})"), "\"system_audio\" must be true or false");
  EXPECT_EQ(error(R"({"auto_profile":"true"})"), "\"auto_profile\" must be true or false");
  EXPECT_EQ(error(R"({"height":4294967296})"), "\"height\": 4294967296 is not a whole number from 0 to 4294967295");
  EXPECT_EQ(error(R"({"height":720.5})"), "\"height\": 720.5 is not a whole number from 0 to 4294967295");
  EXPECT_EQ(error(R"({"height":-720})"), "\"height\": -720 is not a whole number from 0 to 4294967295");
  EXPECT_EQ(error(R"({"width":1,"width":2})"), "invalid JSON at byte 12: duplicate key \"width\"");
}

TEST(helperctlUpdateJson, EveryFieldByItsSchemaName) {
  const auto update = update_profile_from_json(
      R"({"profile_id":"720p30","width":1280,"height":720,"frame_rate":30,"video_bitrate_kbps":2500,)"
      R"("audio_bitrate_kbps":96})");
  ASSERT_TRUE(update) << update.error();
  EXPECT_EQ(*update, (p::UpdateBroadcastProfile{"720p30", 1280, 720, 30, 2500, 96}));
}

TEST(helperctlUpdateJson, RefusesStartOnlyKeysAndWrongTypes) {
  const auto update = update_profile_from_json(R"({"whip_url":"x"})");
  ASSERT_FALSE(update);
  EXPECT_EQ(update.error(),
            "unknown key \"whip_url\" (known keys: profile_id, width, height, frame_rate, video_bitrate_kbps, "
            "audio_bitrate_kbps)");
  const auto typed = update_profile_from_json(R"({"profile_id":720})");
  ASSERT_FALSE(typed);
  EXPECT_EQ(typed.error(), "\"profile_id\" must be a string");
}

TEST(helperctlUsage, ExplainsEveryCommandTheParserAccepts) {
  const std::string usage(usage_text());
  // Each example line of the usage text is accepted by the parser as written.
  for (const std::vector<std::string>& words : std::vector<std::vector<std::string>>{{"caps"},
                                                                                     {"sources"},
                                                                                     {"stop"},
                                                                                     {"start", "{}"},
                                                                                     {"update", "{}"},
                                                                                     {"ptt", "on", "0x11", "0x71"},
                                                                                     {"mic", "off"},
                                                                                     {"watch", "0.5"},
                                                                                     {"raw", "04 00 00 00 08 01 6A 00"},
                                                                                     {"read"}}) {
    EXPECT_TRUE(parse_invocation(words)) << words[0];
    EXPECT_NE(usage.find("\n  " + words[0] + " "), std::string::npos) << words[0];
  }
  for (const std::string_view member :
       {"helper_status", "helper_error", "media_capabilities", "capture_source_list", "broadcast_stats",
        "broadcast_recovery", "global_ptt_event", "microphone_shortcut_event"}) {
    EXPECT_NE(usage.find(member), std::string::npos) << member;
  }
  EXPECT_NE(usage.find("--helper <path>"), std::string::npos);
  EXPECT_NE(usage.find("Exit codes"), std::string::npos);
}

}  // namespace
}  // namespace corvane::helperctl
