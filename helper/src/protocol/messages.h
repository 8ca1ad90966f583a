#pragma once
// The messages that cross the helper pipe: one HelperEnvelope per frame, contract version 1.

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/result.h"
#include "protocol/proto.h"

namespace corvane::protocol {

// The only contract version either side speaks.
inline constexpr std::uint32_t kContractVersion = 1;

// First frame of a connection: proves the client is the application that started the helper.
struct Authenticate {
  std::vector<std::uint8_t> nonce;
  std::uint32_t parent_process_id = 0;
  bool operator==(const Authenticate&) const = default;
};

// Asks for the media capability report.
struct GetMediaCapabilities {
  bool operator==(const GetMediaCapabilities&) const = default;
};

// One probed H.264 encoder in the capability report.
struct EncoderInfo {
  std::string name;
  bool usable = false;
  std::string kind;
  std::string probe_profile;
  std::string rate_control;
  std::string note;
  bool operator==(const EncoderInfo&) const = default;
};

// What this machine can broadcast (reply to GetMediaCapabilities).
struct MediaCapabilities {
  bool ok = false;
  bool windows_graphics_capture_available = false;
  bool system_audio_available = false;
  bool always_true = false;
  std::vector<std::string> usable_encoders;
  std::string active_encoder;
  std::string active_probe_profile;
  std::map<std::string, std::string> unavailable_reasons;  // ordered by key bytes, as written
  std::string runtime_version;
  std::string active_encoder_kind;
  std::vector<std::string> allowed_profile_ids;
  std::vector<EncoderInfo> encoders;
  bool operator==(const MediaCapabilities&) const = default;
};

// Asks for the monitors and windows that can be broadcast.
struct ListCaptureSources {
  bool operator==(const ListCaptureSources&) const = default;
};

// One monitor or window that can be broadcast.
struct CaptureSource {
  std::string id;
  std::string kind;
  std::string name;
  std::string extra;
  bool operator==(const CaptureSource&) const = default;
};

// Reply to ListCaptureSources.
struct CaptureSourceList {
  std::vector<CaptureSource> sources;
  bool operator==(const CaptureSourceList&) const = default;
};

// Starts a broadcast of one capture source to a WHIP endpoint.
struct StartBroadcast {
  std::string capture_source_id;
  std::string whip_url;
  std::string stream_key;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t frame_rate = 0;
  std::uint32_t video_bitrate_kbps = 0;
  bool system_audio = false;
  bool exclude_app_audio = false;
  std::string microphone_device_id;
  std::string profile_id;
  bool auto_profile = false;
  std::uint32_t audio_bitrate_kbps = 0;
  bool operator==(const StartBroadcast&) const = default;
};

// Ends the running broadcast, if any.
struct StopBroadcast {
  bool operator==(const StopBroadcast&) const = default;
};

// Turns a global key-chord watch on or off (shared by push-to-talk and the microphone shortcut).
struct KeyChordConfiguration {
  bool enabled = false;
  std::uint32_t virtual_key_code = 0;
  std::vector<std::uint32_t> virtual_key_codes;

  // The chord to watch: the list, or the single key when the list is empty and the key is not 0.
  std::vector<std::uint32_t> chord() const;
  bool operator==(const KeyChordConfiguration&) const = default;
};

// Configures the push-to-talk chord.
struct ConfigureGlobalPtt : KeyChordConfiguration {
  bool operator==(const ConfigureGlobalPtt&) const = default;
};

// Configures the microphone-shortcut chord.
struct ConfigureMicrophoneShortcut : KeyChordConfiguration {
  bool operator==(const ConfigureMicrophoneShortcut&) const = default;
};

// Statistics of the running broadcast, sent every 2 seconds.
struct BroadcastStats {
  double frames_per_second = 0;
  std::uint64_t bitrate_bps = 0;
  double average_latency_ms = 0;
  std::uint64_t dropped_frames = 0;
  std::string encoder;
  std::string profile_id;
  std::string encoder_kind;
  std::string recovery_reason;
  bool operator==(const BroadcastStats&) const = default;
};

// A failing broadcast was kept alive by switching one component.
struct BroadcastRecovery {
  std::string component;
  std::string detail;
  bool succeeded = false;
  bool operator==(const BroadcastRecovery&) const = default;
};

// Error reply to a command, or error event.
struct HelperError {
  std::string code;
  std::string message;
  bool retryable = false;
  bool operator==(const HelperError&) const = default;
};

// Success reply to a command, or status event.
struct HelperStatus {
  bool ok = false;
  std::string status;
  std::string detail;
  bool operator==(const HelperStatus&) const = default;
};

// A watched key chord went down (pressed) or up, at a wall-clock time in Unix milliseconds.
struct KeyChordEvent {
  bool pressed = false;
  std::uint64_t timestamp_unix_ms = 0;
  bool operator==(const KeyChordEvent&) const = default;
};

// Push-to-talk chord transition.
struct GlobalPttEvent : KeyChordEvent {
  bool operator==(const GlobalPttEvent&) const = default;
};

// Microphone-shortcut chord transition.
struct MicrophoneShortcutEvent : KeyChordEvent {
  bool operator==(const MicrophoneShortcutEvent&) const = default;
};

// Changes the profile of the running broadcast.
struct UpdateBroadcastProfile {
  std::string profile_id;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t frame_rate = 0;
  std::uint32_t video_bitrate_kbps = 0;
  std::uint32_t audio_bitrate_kbps = 0;
  bool operator==(const UpdateBroadcastProfile&) const = default;
};

// The envelope's payload; alternative i travels as field 10 + i.
using Payload = std::variant<Authenticate, GetMediaCapabilities, MediaCapabilities, ListCaptureSources,
                             CaptureSourceList, StartBroadcast, StopBroadcast, ConfigureGlobalPtt, BroadcastStats,
                             BroadcastRecovery, HelperError, HelperStatus, GlobalPttEvent, UpdateBroadcastProfile,
                             ConfigureMicrophoneShortcut, MicrophoneShortcutEvent>;

// Field number of the first payload member.
inline constexpr std::uint32_t kFirstPayloadField = 10;

// One frame's message: version, request ID (empty for events) and exactly one payload member.
struct HelperEnvelope {
  std::uint32_t contract_version = kContractVersion;
  std::string request_id;
  Payload payload;
  bool operator==(const HelperEnvelope&) const = default;
};

// Which side wrote a frame; a decoder knows only the members that side sends.
enum class Sender : std::uint8_t { client, helper };

// Decodes a frame body. Members the sender does not send are skipped as unknown fields, so a body
// without any member of the sender fails with "envelope command is missing".
Expected<HelperEnvelope, ProtoError> decode_envelope(std::span<const std::uint8_t> body, Sender sender);

// Encodes an envelope: version, request ID, then the payload member (written even when empty).
std::vector<std::uint8_t> encode_envelope(const HelperEnvelope& envelope);

// The payload's field number on the wire.
std::uint32_t payload_field(const Payload& payload);

// The error codes of HelperError.
enum class HelperErrorCode : std::uint8_t {
  authentication_required,
  authentication_failed,
  already_authenticated,
  contract_version_unsupported,
  capture_source_enumeration_failed,
  broadcast_start_failed,
  broadcast_profile_update_failed,
  global_ptt_configuration_failed,
  microphone_shortcut_failed,
  media_pipeline_failed,
};

// The code as it travels ("AUTHENTICATION_REQUIRED").
std::string_view error_code_text(HelperErrorCode code);
// Whether the client may try the same command again; fixed per code.
bool error_code_retryable(HelperErrorCode code);
// The message that goes with a code whose text is fixed; empty for codes that carry a cause.
std::string_view error_code_fixed_message(HelperErrorCode code);

// Status words of HelperStatus.
namespace status_word {
inline constexpr std::string_view authenticated = "authenticated";
inline constexpr std::string_view broadcasting = "broadcasting";
inline constexpr std::string_view broadcasting_without_system_audio = "broadcasting-without-system-audio";
inline constexpr std::string_view idle = "idle";
inline constexpr std::string_view ended = "ended";
inline constexpr std::string_view global_ptt_enabled = "global-ptt-enabled";
inline constexpr std::string_view global_ptt_disabled = "global-ptt-disabled";
inline constexpr std::string_view microphone_shortcut_enabled = "microphone-shortcut-enabled";
inline constexpr std::string_view microphone_shortcut_disabled = "microphone-shortcut-disabled";
}  // namespace status_word

// Reply builders: `ok` true, version 1, the request's ID.
HelperEnvelope status_reply(std::string request_id, std::string_view status, std::string_view detail = {});
// Error reply with the code's `retryable` flag; `message` empty means the code's fixed message.
HelperEnvelope error_reply(std::string request_id, HelperErrorCode code, std::string message = {});
// Any payload as a reply to a request.
HelperEnvelope reply(std::string request_id, Payload payload);
// Any payload as an event (empty request ID).
HelperEnvelope event(Payload payload);
// Status event ("ended").
HelperEnvelope status_event(std::string_view status);
// Error event with the code's `retryable` flag.
HelperEnvelope error_event(HelperErrorCode code, std::string message);
// Recovery event: `succeeded` is always true.
HelperEnvelope recovery_event(std::string component, std::string detail);

}  // namespace corvane::protocol
