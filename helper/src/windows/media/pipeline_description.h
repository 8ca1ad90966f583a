#pragma once
// The pipeline description of a broadcast: the WHIP URL and stream key rules, the endpoint, the capture,
// conversion, encoder, optional lower renditions, audio and WHIP sink segments, and the redaction of
// secrets from texts that may quote the description. Pure functions with no state or side effects.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"
#include "windows/media/broadcast_config.h"

namespace corvane::helper {

inline constexpr std::string_view kInvalidWhipCredentialsMessage = "LiveKit WHIP credentials are invalid";
inline constexpr std::size_t kMaxWhipUrlBytes = 2048;
inline constexpr std::size_t kMinStreamKeyBytes = 8;
inline constexpr std::size_t kMaxStreamKeyBytes = 256;

// Whether `url` may be a WHIP URL (bytes compared exactly, case counts): 1 to kMaxWhipUrlBytes bytes
// without any Unicode White_Space code point (ill-formed UTF-8 bytes are not white space), and either
// "https://" followed by at least one byte that is not '/', or one of the loopback hosts
// "http://localhost", "http://127.0.0.1" and "http://[::1]", alone or followed by '/' or ':'.
bool whip_url_acceptable(std::string_view url);

// Whether `key` may be a stream key: kMinStreamKeyBytes to kMaxStreamKeyBytes bytes of A-Z, a-z, 0-9,
// '_' and '-'.
bool stream_key_acceptable(std::string_view key);

// `value` as a double-quoted pipeline description value: every backslash doubled, then every double
// quote preceded by a backslash, then the whole enclosed in double quotes.
std::string quote_description_value(std::string_view value);

// The WHIP endpoint of a stream: `url` without its trailing slashes, then '/' and `key`.
std::string whip_endpoint(std::string_view url, std::string_view key);

// Whether `endpoint` is a local development server ("http://127.0.0.1:" and a port), which gets the
// lower renditions, size query strings and no STUN server.
bool loopback_development_mode(std::string_view endpoint);

// The system-audio source: WASAPI loopback of everything played, or of everything but the process tree
// of `excluded_process_id` when `exclude_app_audio` is set.
std::string system_audio_source(bool exclude_app_audio, std::uint32_t excluded_process_id);

// `kbps` in bits per second, saturating at the largest std::uint32_t.
std::uint32_t bits_per_second(std::uint32_t kbps) noexcept;

// The whole description of a broadcast of `config` captured through `capture_api` and encoded by
// `encoder`; `excluded_process_id` is the process tree whose sound system audio leaves out when
// config.exclude_app_audio is set. Ranges are not checked here. Errors, in the order checked:
// kInvalidWhipCredentialsMessage, capture_target_fragment's errors, kUnsupportedEncoderMessage.
Result<std::string> build_broadcast_description(const BroadcastConfig& config, std::string_view capture_api,
                                                std::uint32_t excluded_process_id, const UsableEncoder& encoder);

// `text` with every occurrence of `endpoint` replaced by "[redacted-whip-endpoint]", then every
// occurrence of `stream_key` in what remains of the original text by "[redacted]" (the inserted markers
// are never rewritten). An empty endpoint or key replaces nothing.
std::string redact_secrets(std::string_view text, std::string_view endpoint, std::string_view stream_key);

// `text` as it may leave the helper: every occurrence of the broadcast's WHIP endpoint and stream key hidden.
std::string redact_broadcast_secrets(const BroadcastConfig& config, std::string_view text);

}  // namespace corvane::helper
