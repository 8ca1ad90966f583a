#include "interop/samples.h"

#include <cstdint>
#include <limits>

namespace corvane::interop {

namespace {

using protocol::Sender;

constexpr std::uint32_t kMax32 = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint64_t kMax64 = std::numeric_limits<std::uint64_t>::max();

pb::HelperEnvelope lib_envelope(std::uint32_t version, const std::string& request_id) {
  pb::HelperEnvelope out;
  out.set_contract_version(version);
  out.set_request_id(request_id);
  return out;
}

// 32 nonce bytes covering 0x00, 0x7F, 0x80 and 0xFF.
std::vector<std::uint8_t> nonce_bytes() {
  std::vector<std::uint8_t> out;
  for (unsigned i = 0; i < 32; ++i) {
    out.push_back(static_cast<std::uint8_t>(i * 0x7Fu + (i % 2 == 0 ? 0u : 0x80u)));
  }
  out[5] = 0xFF;
  return out;
}

Sample authenticate() {
  Sample s{"Authenticate", Sender::client, {}, lib_envelope(1, "auth-1")};
  const auto nonce = nonce_bytes();
  s.ours = protocol::reply("auth-1", protocol::Authenticate{nonce, 0x12345678});
  pb::Authenticate* m = s.lib.mutable_authenticate();
  m->set_nonce(std::string(nonce.begin(), nonce.end()));
  m->set_parent_process_id(0x12345678);
  return s;
}

Sample get_media_capabilities() {
  Sample s{"GetMediaCapabilities", Sender::client, {}, lib_envelope(1, "caps-é")};
  s.ours = protocol::reply("caps-é", protocol::GetMediaCapabilities{});
  s.lib.mutable_get_media_capabilities();
  return s;
}

Sample list_capture_sources() {
  Sample s{"ListCaptureSources", Sender::client, {}, lib_envelope(1, "r3")};
  s.ours = protocol::reply("r3", protocol::ListCaptureSources{});
  s.lib.mutable_list_capture_sources();
  return s;
}

const std::string kSourceId = "window:0x1A2B:Überlauf — 配信";
const std::string kWhipUrl = "https://whip.example/ingest/ñandú?room=🎮";
const std::string kStreamKey = "sk_Ωmega_✓_0123456789";
const std::string kMicrophone = "{0.0.1.00000000}.{d2c3f7a4-5b6e-4c8d-9e0f-a1b2c3d4e5f6}·микрофон";

Sample start_broadcast() {
  Sample s{"StartBroadcast", Sender::client, {}, lib_envelope(1, "start-7")};
  protocol::StartBroadcast start;
  start.capture_source_id = kSourceId;
  start.whip_url = kWhipUrl;
  start.stream_key = kStreamKey;
  start.width = 3840;
  start.height = 2160;
  start.frame_rate = 144;
  start.video_bitrate_kbps = 50000;
  start.system_audio = true;
  start.exclude_app_audio = true;
  start.microphone_device_id = kMicrophone;
  start.profile_id = "gaming-高";
  start.auto_profile = true;
  start.audio_bitrate_kbps = 320;
  s.ours = protocol::reply("start-7", start);
  pb::StartBroadcast* m = s.lib.mutable_start_broadcast();
  m->set_capture_source_id(kSourceId);
  m->set_whip_url(kWhipUrl);
  m->set_stream_key(kStreamKey);
  m->set_width(3840);
  m->set_height(2160);
  m->set_frame_rate(144);
  m->set_video_bitrate_kbps(50000);
  m->set_system_audio(true);
  m->set_exclude_app_audio(true);
  m->set_microphone_device_id(kMicrophone);
  m->set_profile_id("gaming-高");
  m->set_auto_profile(true);
  m->set_audio_bitrate_kbps(320);
  return s;
}

// Largest integers and strings longer than 127 bytes (two-byte lengths).
Sample start_broadcast_extremes() {
  const std::string long_url = "https://whip.example/" + std::string(200, 'w') + "/Ende";
  const std::string long_key(128, 'k');
  Sample s{"StartBroadcastExtremes", Sender::client, {}, lib_envelope(kMax32, std::string(300, 'r'))};
  protocol::StartBroadcast start;
  start.capture_source_id = "monitor:65537";
  start.whip_url = long_url;
  start.stream_key = long_key;
  start.width = kMax32;
  start.height = kMax32 - 1;
  start.frame_rate = 128;
  start.video_bitrate_kbps = 0x80000000u;
  start.system_audio = true;
  start.exclude_app_audio = true;
  start.microphone_device_id = std::string(1, '\0') + "nul";
  start.profile_id = "😀";
  start.auto_profile = true;
  start.audio_bitrate_kbps = 16384;
  s.ours = protocol::HelperEnvelope{kMax32, std::string(300, 'r'), start};
  pb::StartBroadcast* m = s.lib.mutable_start_broadcast();
  m->set_capture_source_id("monitor:65537");
  m->set_whip_url(long_url);
  m->set_stream_key(long_key);
  m->set_width(kMax32);
  m->set_height(kMax32 - 1);
  m->set_frame_rate(128);
  m->set_video_bitrate_kbps(0x80000000u);
  m->set_system_audio(true);
  m->set_exclude_app_audio(true);
  m->set_microphone_device_id(std::string(1, '\0') + "nul");
  m->set_profile_id("😀");
  m->set_auto_profile(true);
  m->set_audio_bitrate_kbps(16384);
  return s;
}

Sample stop_broadcast() {
  Sample s{"StopBroadcast", Sender::client, {}, lib_envelope(1, "stop")};
  s.ours = protocol::reply("stop", protocol::StopBroadcast{});
  s.lib.mutable_stop_broadcast();
  return s;
}

Sample configure_global_ptt() {
  Sample s{"ConfigureGlobalPtt", Sender::client, {}, lib_envelope(1, "ptt-1")};
  protocol::ConfigureGlobalPtt ptt;
  ptt.enabled = true;
  ptt.virtual_key_code = 0x11;
  ptt.virtual_key_codes = {0x11, 0x12, 0xA0, 0x41};
  s.ours = protocol::reply("ptt-1", ptt);
  pb::ConfigureGlobalPtt* m = s.lib.mutable_configure_global_ptt();
  m->set_enabled(true);
  m->set_virtual_key_code(0x11);
  for (const std::uint32_t code : {0x11u, 0x12u, 0xA0u, 0x41u}) {
    m->add_virtual_key_codes(code);
  }
  return s;
}

Sample configure_global_ptt_single_key() {
  Sample s{"ConfigureGlobalPttSingleKey", Sender::client, {}, lib_envelope(1, "ptt-2")};
  protocol::ConfigureGlobalPtt ptt;
  ptt.enabled = true;
  ptt.virtual_key_code = 0x7B;
  s.ours = protocol::reply("ptt-2", ptt);
  pb::ConfigureGlobalPtt* m = s.lib.mutable_configure_global_ptt();
  m->set_enabled(true);
  m->set_virtual_key_code(0x7B);
  s.every_field_set = false;
  return s;
}

// A key list that holds a zero: libprotobuf writes the zero, our writer leaves it out, our reader keeps it.
Sample configure_global_ptt_with_zero_code() {
  Sample s{"ConfigureGlobalPttWithZeroCode", Sender::client, {}, lib_envelope(1, "ptt-3")};
  protocol::ConfigureGlobalPtt ptt;
  ptt.enabled = true;
  ptt.virtual_key_codes = {0x11, 0, 0x41};
  s.ours = protocol::reply("ptt-3", ptt);
  pb::ConfigureGlobalPtt* m = s.lib.mutable_configure_global_ptt();
  m->set_enabled(true);
  m->add_virtual_key_codes(0x11);
  m->add_virtual_key_codes(0);
  m->add_virtual_key_codes(0x41);
  s.every_field_set = false;
  return s;
}

Sample update_broadcast_profile() {
  Sample s{"UpdateBroadcastProfile", Sender::client, {}, lib_envelope(1, "profile-2")};
  s.ours = protocol::reply("profile-2", protocol::UpdateBroadcastProfile{"safe-低", 1280, 720, 30, 2500, 96});
  pb::UpdateBroadcastProfile* m = s.lib.mutable_update_broadcast_profile();
  m->set_profile_id("safe-低");
  m->set_width(1280);
  m->set_height(720);
  m->set_frame_rate(30);
  m->set_video_bitrate_kbps(2500);
  m->set_audio_bitrate_kbps(96);
  return s;
}

Sample configure_microphone_shortcut() {
  Sample s{"ConfigureMicrophoneShortcut", Sender::client, {}, lib_envelope(1, "mic-1")};
  protocol::ConfigureMicrophoneShortcut shortcut;
  shortcut.enabled = true;
  shortcut.virtual_key_code = 0x4D;
  shortcut.virtual_key_codes = {0x11, 0x10, 0x4D};
  s.ours = protocol::reply("mic-1", shortcut);
  pb::ConfigureMicrophoneShortcut* m = s.lib.mutable_configure_microphone_shortcut();
  m->set_enabled(true);
  m->set_virtual_key_code(0x4D);
  m->add_virtual_key_codes(0x11);
  m->add_virtual_key_codes(0x10);
  m->add_virtual_key_codes(0x4D);
  return s;
}

const std::string kWgcReason = "Windows.Graphics.Capture wird nicht unterstützt (Build 17134)";
const std::string kAudioReason = "WASAPI loopback: 0x88890008 — 不可用";

Sample media_capabilities() {
  Sample s{"MediaCapabilities", Sender::helper, {}, lib_envelope(1, "caps-é")};
  protocol::MediaCapabilities caps;
  caps.ok = true;
  caps.windows_graphics_capture_available = true;
  caps.system_audio_available = true;
  caps.always_true = true;
  caps.usable_encoders = {"nvh264enc", "mfh264enc", "x264enc"};
  caps.active_encoder = "nvh264enc";
  caps.active_probe_profile = "nvenc-cbr-high";
  caps.unavailable_reasons = {{"windowsGraphicsCapture", kWgcReason}, {"systemAudio", kAudioReason}};
  caps.runtime_version = "GStreamer 1.24.12";
  caps.active_encoder_kind = "hardware";
  caps.allowed_profile_ids = {"safe", "balanced", "gaming"};
  caps.encoders = {
      protocol::EncoderInfo{"nvh264enc", true, "hardware", "nvenc-cbr-high", "cbr", "NVIDIA GeForce RTX 4070"},
      protocol::EncoderInfo{"mfh264enc", true, "hardware", "mf-baseline", "vbr", ""},
      protocol::EncoderInfo{"qsvh264enc", false, "hardware", "", "", "kein Intel-Gerät gefunden"},
      protocol::EncoderInfo{"x264enc", true, "software", "x264-veryfast", "cbr", "Ersatz"},
  };
  s.ours = protocol::reply("caps-é", caps);
  pb::MediaCapabilities* m = s.lib.mutable_media_capabilities();
  m->set_ok(true);
  m->set_windows_graphics_capture_available(true);
  m->set_system_audio_available(true);
  m->set_always_true(true);
  m->add_usable_encoders("nvh264enc");
  m->add_usable_encoders("mfh264enc");
  m->add_usable_encoders("x264enc");
  m->set_active_encoder("nvh264enc");
  m->set_active_probe_profile("nvenc-cbr-high");
  (*m->mutable_unavailable_reasons())["windowsGraphicsCapture"] = kWgcReason;
  (*m->mutable_unavailable_reasons())["systemAudio"] = kAudioReason;
  m->set_runtime_version("GStreamer 1.24.12");
  m->set_active_encoder_kind("hardware");
  m->add_allowed_profile_ids("safe");
  m->add_allowed_profile_ids("balanced");
  m->add_allowed_profile_ids("gaming");
  auto add_encoder = [&](const char* name, bool usable, const char* kind, const char* probe, const char* rate,
                         const char* note) {
    pb::EncoderInfo* encoder = m->add_encoders();
    encoder->set_name(name);
    encoder->set_usable(usable);
    encoder->set_kind(kind);
    encoder->set_probe_profile(probe);
    encoder->set_rate_control(rate);
    encoder->set_note(note);
  };
  add_encoder("nvh264enc", true, "hardware", "nvenc-cbr-high", "cbr", "NVIDIA GeForce RTX 4070");
  add_encoder("mfh264enc", true, "hardware", "mf-baseline", "vbr", "");
  add_encoder("qsvh264enc", false, "hardware", "", "", "kein Intel-Gerät gefunden");
  add_encoder("x264enc", true, "software", "x264-veryfast", "cbr", "Ersatz");
  s.byte_identical = false;  // the helper writes `ok` (field 12) first
  return s;
}

// A report with mostly default values: nothing usable, an empty encoder record, empty reason text.
Sample media_capabilities_degraded() {
  Sample s{"MediaCapabilitiesDegraded", Sender::helper, {}, lib_envelope(1, "caps-2")};
  protocol::MediaCapabilities caps;
  caps.always_true = true;
  caps.unavailable_reasons = {{"systemAudio", ""}, {"windowsGraphicsCapture", "no adapter"}};
  caps.encoders = {protocol::EncoderInfo{}, protocol::EncoderInfo{"x264enc", false, "", "", "", "missing"}};
  s.ours = protocol::reply("caps-2", caps);
  pb::MediaCapabilities* m = s.lib.mutable_media_capabilities();
  m->set_always_true(true);
  (*m->mutable_unavailable_reasons())["systemAudio"] = "";
  (*m->mutable_unavailable_reasons())["windowsGraphicsCapture"] = "no adapter";
  m->add_encoders();
  pb::EncoderInfo* x264 = m->add_encoders();
  x264->set_name("x264enc");
  x264->set_note("missing");
  s.byte_identical = false;
  s.every_field_set = false;
  return s;
}

// Lists with empty strings: libprotobuf writes them, our writer leaves them out, our reader keeps them.
Sample media_capabilities_with_empty_list_entries() {
  Sample s{"MediaCapabilitiesWithEmptyListEntries", Sender::helper, {}, lib_envelope(1, "caps-3")};
  protocol::MediaCapabilities caps;
  caps.ok = true;
  caps.usable_encoders = {"x264enc", ""};
  caps.allowed_profile_ids = {"", "safe"};
  s.ours = protocol::reply("caps-3", caps);
  pb::MediaCapabilities* m = s.lib.mutable_media_capabilities();
  m->set_ok(true);
  m->add_usable_encoders("x264enc");
  m->add_usable_encoders("");
  m->add_allowed_profile_ids("");
  m->add_allowed_profile_ids("safe");
  s.byte_identical = false;
  s.every_field_set = false;
  return s;
}

Sample capture_source_list() {
  Sample s{"CaptureSourceList", Sender::helper, {}, lib_envelope(1, "r3")};
  protocol::CaptureSourceList list;
  list.sources = {
      protocol::CaptureSource{"monitor:65537", "monitor", "DELL U2723QE (1)", "3840x2160@60"},
      protocol::CaptureSource{},
      protocol::CaptureSource{"window:0x1A2B", "window", "Überlauf — 配信 🎮", ""},
  };
  s.ours = protocol::reply("r3", list);
  pb::CaptureSourceList* m = s.lib.mutable_capture_source_list();
  pb::CaptureSource* monitor = m->add_sources();
  monitor->set_id("monitor:65537");
  monitor->set_kind("monitor");
  monitor->set_name("DELL U2723QE (1)");
  monitor->set_extra("3840x2160@60");
  m->add_sources();
  pb::CaptureSource* window = m->add_sources();
  window->set_id("window:0x1A2B");
  window->set_kind("window");
  window->set_name("Überlauf — 配信 🎮");
  return s;
}

Sample broadcast_stats() {
  Sample s{"BroadcastStats", Sender::helper, {}, lib_envelope(1, "")};
  protocol::BroadcastStats stats;
  stats.frames_per_second = 59.94;
  stats.bitrate_bps = 6000123;
  stats.average_latency_ms = 12.375;
  stats.dropped_frames = 3;
  stats.encoder = "nvh264enc";
  stats.profile_id = "gaming";
  stats.encoder_kind = "hardware";
  stats.recovery_reason = "encoder-restart";
  s.ours = protocol::event(stats);
  pb::BroadcastStats* m = s.lib.mutable_broadcast_stats();
  m->set_frames_per_second(59.94);
  m->set_bitrate_bps(6000123);
  m->set_average_latency_ms(12.375);
  m->set_dropped_frames(3);
  m->set_encoder("nvh264enc");
  m->set_profile_id("gaming");
  m->set_encoder_kind("hardware");
  m->set_recovery_reason("encoder-restart");
  return s;
}

// Negative zero (not the default: its sign bit is set), the smallest subnormal, the largest uint64.
Sample broadcast_stats_edges() {
  Sample s{"BroadcastStatsNegativeZeroAndExtremes", Sender::helper, {}, lib_envelope(1, "")};
  protocol::BroadcastStats stats;
  stats.frames_per_second = -0.0;
  stats.bitrate_bps = kMax64;
  stats.average_latency_ms = std::numeric_limits<double>::denorm_min();
  stats.dropped_frames = 1;
  stats.encoder = "x264enc";
  stats.profile_id = "safe";
  stats.encoder_kind = "software";
  stats.recovery_reason = "—";
  s.ours = protocol::event(stats);
  pb::BroadcastStats* m = s.lib.mutable_broadcast_stats();
  m->set_frames_per_second(-0.0);
  m->set_bitrate_bps(kMax64);
  m->set_average_latency_ms(std::numeric_limits<double>::denorm_min());
  m->set_dropped_frames(1);
  m->set_encoder("x264enc");
  m->set_profile_id("safe");
  m->set_encoder_kind("software");
  m->set_recovery_reason("—");
  return s;
}

Sample broadcast_recovery() {
  Sample s{"BroadcastRecovery", Sender::helper, {}, lib_envelope(1, "")};
  s.ours = protocol::recovery_event("screen-capture", "wgc → dxgi-duplication");
  pb::BroadcastRecovery* m = s.lib.mutable_broadcast_recovery();
  m->set_component("screen-capture");
  m->set_detail("wgc → dxgi-duplication");
  m->set_succeeded(true);
  return s;
}

Sample helper_error() {
  Sample s{"HelperError", Sender::helper, {}, lib_envelope(1, "profile-2")};
  s.ours = protocol::error_reply("profile-2", protocol::HelperErrorCode::broadcast_profile_update_failed,
                                 "Encoder konnte nicht umgestellt werden: ошибка");
  pb::HelperError* m = s.lib.mutable_helper_error();
  m->set_code("BROADCAST_PROFILE_UPDATE_FAILED");
  m->set_message("Encoder konnte nicht umgestellt werden: ошибка");
  m->set_retryable(true);
  return s;
}

Sample helper_status() {
  Sample s{"HelperStatus", Sender::helper, {}, lib_envelope(1, "start-7")};
  s.ours = protocol::status_reply("start-7", protocol::status_word::broadcasting, "nvh264enc");
  pb::HelperStatus* m = s.lib.mutable_helper_status();
  m->set_ok(true);
  m->set_status("broadcasting");
  m->set_detail("nvh264enc");
  return s;
}

Sample global_ptt_event() {
  Sample s{"GlobalPttEvent", Sender::helper, {}, lib_envelope(1, "")};
  protocol::GlobalPttEvent pressed;
  pressed.pressed = true;
  pressed.timestamp_unix_ms = 1700000000123;
  s.ours = protocol::event(pressed);
  pb::GlobalPttEvent* m = s.lib.mutable_global_ptt_event();
  m->set_pressed(true);
  m->set_timestamp_unix_ms(1700000000123);
  return s;
}

Sample microphone_shortcut_event() {
  Sample s{"MicrophoneShortcutEvent", Sender::helper, {}, lib_envelope(1, "")};
  protocol::MicrophoneShortcutEvent pressed;
  pressed.pressed = true;
  pressed.timestamp_unix_ms = kMax64;  // a ten-byte varint
  s.ours = protocol::event(pressed);
  pb::MicrophoneShortcutEvent* m = s.lib.mutable_microphone_shortcut_event();
  m->set_pressed(true);
  m->set_timestamp_unix_ms(kMax64);
  return s;
}

}  // namespace

std::vector<Sample> client_samples() {
  return {authenticate(),
          get_media_capabilities(),
          list_capture_sources(),
          start_broadcast(),
          start_broadcast_extremes(),
          stop_broadcast(),
          configure_global_ptt(),
          configure_global_ptt_single_key(),
          configure_global_ptt_with_zero_code(),
          update_broadcast_profile(),
          configure_microphone_shortcut()};
}

std::vector<Sample> helper_samples() {
  return {media_capabilities(),
          media_capabilities_degraded(),
          media_capabilities_with_empty_list_entries(),
          capture_source_list(),
          broadcast_stats(),
          broadcast_stats_edges(),
          broadcast_recovery(),
          helper_error(),
          helper_status(),
          global_ptt_event(),
          microphone_shortcut_event()};
}

}  // namespace corvane::interop
