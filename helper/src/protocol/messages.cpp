#include "protocol/messages.h"

#include <array>
#include <type_traits>

namespace corvane::protocol {

namespace {

// ---- encoding: fields in the order of each message's definition ----

void encode(ProtoWriter& w, const Authenticate& m) {
  w.write_bytes(1, m.nonce);
  w.write_uint32(2, m.parent_process_id);
}

void encode(ProtoWriter& /*w*/, const GetMediaCapabilities& /*m*/) {}
void encode(ProtoWriter& /*w*/, const ListCaptureSources& /*m*/) {}
void encode(ProtoWriter& /*w*/, const StopBroadcast& /*m*/) {}

void encode(ProtoWriter& w, const EncoderInfo& m) {
  w.write_string(1, m.name);
  w.write_bool(2, m.usable);
  w.write_string(3, m.kind);
  w.write_string(4, m.probe_profile);
  w.write_string(5, m.rate_control);
  w.write_string(6, m.note);
}

void encode(ProtoWriter& w, const MediaCapabilities& m) {
  w.write_bool(12, m.ok);  // `ok` leads the report
  w.write_bool(1, m.windows_graphics_capture_available);
  w.write_bool(2, m.system_audio_available);
  w.write_bool(3, m.always_true);
  w.write_repeated_string(4, m.usable_encoders);
  w.write_string(5, m.active_encoder);
  w.write_string(6, m.active_probe_profile);
  for (const auto& reason : m.unavailable_reasons) {  // std::map orders keys byte-wise
    w.write_message(7, [&](ProtoWriter& entry) {
      entry.write_string(1, reason.first);
      entry.write_string(2, reason.second);
    });
  }
  w.write_string(8, m.runtime_version);
  w.write_string(9, m.active_encoder_kind);
  w.write_repeated_string(10, m.allowed_profile_ids);
  for (const EncoderInfo& encoder : m.encoders) {
    w.write_message(11, [&](ProtoWriter& nested) { encode(nested, encoder); });
  }
}

void encode(ProtoWriter& w, const CaptureSource& m) {
  w.write_string(1, m.id);
  w.write_string(2, m.kind);
  w.write_string(3, m.name);
  w.write_string(4, m.extra);
}

void encode(ProtoWriter& w, const CaptureSourceList& m) {
  for (const CaptureSource& source : m.sources) {
    w.write_message(1, [&](ProtoWriter& nested) { encode(nested, source); });
  }
}

void encode(ProtoWriter& w, const StartBroadcast& m) {
  w.write_string(1, m.capture_source_id);
  w.write_string(2, m.whip_url);
  w.write_string(3, m.stream_key);
  w.write_uint32(4, m.width);
  w.write_uint32(5, m.height);
  w.write_uint32(6, m.frame_rate);
  w.write_uint32(7, m.video_bitrate_kbps);
  w.write_bool(8, m.system_audio);
  w.write_bool(9, m.exclude_app_audio);
  w.write_string(10, m.microphone_device_id);
  w.write_string(11, m.profile_id);
  w.write_bool(12, m.auto_profile);
  w.write_uint32(13, m.audio_bitrate_kbps);
}

void encode(ProtoWriter& w, const KeyChordConfiguration& m) {
  w.write_bool(1, m.enabled);
  w.write_uint32(2, m.virtual_key_code);
  w.write_repeated_uint32(3, m.virtual_key_codes);
}

void encode(ProtoWriter& w, const BroadcastStats& m) {
  w.write_double(1, m.frames_per_second);
  w.write_uint64(2, m.bitrate_bps);
  w.write_double(3, m.average_latency_ms);
  w.write_uint64(4, m.dropped_frames);
  w.write_string(5, m.encoder);
  w.write_string(6, m.profile_id);
  w.write_string(7, m.encoder_kind);
  w.write_string(8, m.recovery_reason);
}

void encode(ProtoWriter& w, const BroadcastRecovery& m) {
  w.write_string(1, m.component);
  w.write_string(2, m.detail);
  w.write_bool(3, m.succeeded);
}

void encode(ProtoWriter& w, const HelperError& m) {
  w.write_string(1, m.code);
  w.write_string(2, m.message);
  w.write_bool(3, m.retryable);
}

void encode(ProtoWriter& w, const HelperStatus& m) {
  w.write_bool(1, m.ok);
  w.write_string(2, m.status);
  w.write_string(3, m.detail);
}

void encode(ProtoWriter& w, const KeyChordEvent& m) {
  w.write_bool(1, m.pressed);
  w.write_uint64(2, m.timestamp_unix_ms);
}

void encode(ProtoWriter& w, const UpdateBroadcastProfile& m) {
  w.write_string(1, m.profile_id);
  w.write_uint32(2, m.width);
  w.write_uint32(3, m.height);
  w.write_uint32(4, m.frame_rate);
  w.write_uint32(5, m.video_bitrate_kbps);
  w.write_uint32(6, m.audio_bitrate_kbps);
}

// ---- decoding: unknown fields skipped, the last occurrence of a scalar wins ----

ProtoStatus decode(ProtoReader& r, Authenticate& m) {
  return read_message(r, [&](const FieldTag& tag, ProtoReader& in) -> ProtoStatus {
    switch (tag.field) {
      case 1:
        return in.bytes_field(tag, m.nonce);
      case 2:
        return in.uint32_field(tag, m.parent_process_id);
      default:
        return in.skip_field(tag.wire_type);
    }
  });
}

// Messages without fields: everything inside is an unknown field.
template <class Empty>
ProtoStatus decode_empty(ProtoReader& r, Empty& /*m*/) {
  return read_message(r, [](const FieldTag& tag, ProtoReader& in) { return in.skip_field(tag.wire_type); });
}

ProtoStatus decode(ProtoReader& r, GetMediaCapabilities& m) { return decode_empty(r, m); }
ProtoStatus decode(ProtoReader& r, ListCaptureSources& m) { return decode_empty(r, m); }
ProtoStatus decode(ProtoReader& r, StopBroadcast& m) { return decode_empty(r, m); }

ProtoStatus decode(ProtoReader& r, EncoderInfo& m) {
  return read_message(r, [&](const FieldTag& tag, ProtoReader& in) -> ProtoStatus {
    switch (tag.field) {
      case 1:
        return in.string_field(tag, m.name);
      case 2:
        return in.bool_field(tag, m.usable);
      case 3:
        return in.string_field(tag, m.kind);
      case 4:
        return in.string_field(tag, m.probe_profile);
      case 5:
        return in.string_field(tag, m.rate_control);
      case 6:
        return in.string_field(tag, m.note);
      default:
        return in.skip_field(tag.wire_type);
    }
  });
}

// A map entry: key 1 and value 2, both strings; a later entry with the same key replaces the earlier.
ProtoStatus decode_map_entry(ProtoReader& r, std::map<std::string, std::string>& map) {
  std::string key;
  std::string value;
  auto status = read_message(r, [&](const FieldTag& tag, ProtoReader& in) -> ProtoStatus {
    switch (tag.field) {
      case 1:
        return in.string_field(tag, key);
      case 2:
        return in.string_field(tag, value);
      default:
        return in.skip_field(tag.wire_type);
    }
  });
  if (!status) {
    map.insert_or_assign(std::move(key), std::move(value));
  }
  return status;
}

ProtoStatus decode(ProtoReader& r, MediaCapabilities& m) {
  return read_message(r, [&](const FieldTag& tag, ProtoReader& in) -> ProtoStatus {
    switch (tag.field) {
      case 1:
        return in.bool_field(tag, m.windows_graphics_capture_available);
      case 2:
        return in.bool_field(tag, m.system_audio_available);
      case 3:
        return in.bool_field(tag, m.always_true);
      case 4:
        return in.repeated_string_field(tag, m.usable_encoders);
      case 5:
        return in.string_field(tag, m.active_encoder);
      case 6:
        return in.string_field(tag, m.active_probe_profile);
      case 7: {
        ProtoReader entry(std::span<const std::uint8_t>{});
        if (auto error = in.message_field(tag, entry)) {
          return error;
        }
        return decode_map_entry(entry, m.unavailable_reasons);
      }
      case 8:
        return in.string_field(tag, m.runtime_version);
      case 9:
        return in.string_field(tag, m.active_encoder_kind);
      case 10:
        return in.repeated_string_field(tag, m.allowed_profile_ids);
      case 11: {
        ProtoReader nested(std::span<const std::uint8_t>{});
        if (auto error = in.message_field(tag, nested)) {
          return error;
        }
        return decode(nested, m.encoders.emplace_back());
      }
      case 12:
        return in.bool_field(tag, m.ok);
      default:
        return in.skip_field(tag.wire_type);
    }
  });
}

ProtoStatus decode(ProtoReader& r, CaptureSource& m) {
  return read_message(r, [&](const FieldTag& tag, ProtoReader& in) -> ProtoStatus {
    switch (tag.field) {
      case 1:
        return in.string_field(tag, m.id);
      case 2:
        return in.string_field(tag, m.kind);
      case 3:
        return in.string_field(tag, m.name);
      case 4:
        return in.string_field(tag, m.extra);
      default:
        return in.skip_field(tag.wire_type);
    }
  });
}

ProtoStatus decode(ProtoReader& r, CaptureSourceList& m) {
  return read_message(r, [&](const FieldTag& tag, ProtoReader& in) -> ProtoStatus {
    if (tag.field != 1) {
      return in.skip_field(tag.wire_type);
    }
    ProtoReader nested(std::span<const std::uint8_t>{});
    if (auto error = in.message_field(tag, nested)) {
      return error;
    }
    return decode(nested, m.sources.emplace_back());
  });
}

ProtoStatus decode(ProtoReader& r, StartBroadcast& m) {
  return read_message(r, [&](const FieldTag& tag, ProtoReader& in) -> ProtoStatus {
    switch (tag.field) {
      case 1:
        return in.string_field(tag, m.capture_source_id);
      case 2:
        return in.string_field(tag, m.whip_url);
      case 3:
        return in.string_field(tag, m.stream_key);
      case 4:
        return in.uint32_field(tag, m.width);
      case 5:
        return in.uint32_field(tag, m.height);
      case 6:
        return in.uint32_field(tag, m.frame_rate);
      case 7:
        return in.uint32_field(tag, m.video_bitrate_kbps);
      case 8:
        return in.bool_field(tag, m.system_audio);
      case 9:
        return in.bool_field(tag, m.exclude_app_audio);
      case 10:
        return in.string_field(tag, m.microphone_device_id);
      case 11:
        return in.string_field(tag, m.profile_id);
      case 12:
        return in.bool_field(tag, m.auto_profile);
      case 13:
        return in.uint32_field(tag, m.audio_bitrate_kbps);
      default:
        return in.skip_field(tag.wire_type);
    }
  });
}

ProtoStatus decode(ProtoReader& r, KeyChordConfiguration& m) {
  return read_message(r, [&](const FieldTag& tag, ProtoReader& in) -> ProtoStatus {
    switch (tag.field) {
      case 1:
        return in.bool_field(tag, m.enabled);
      case 2:
        return in.uint32_field(tag, m.virtual_key_code);
      case 3:
        return in.repeated_uint32_field(tag, m.virtual_key_codes);
      default:
        return in.skip_field(tag.wire_type);
    }
  });
}

ProtoStatus decode(ProtoReader& r, BroadcastStats& m) {
  return read_message(r, [&](const FieldTag& tag, ProtoReader& in) -> ProtoStatus {
    switch (tag.field) {
      case 1:
        return in.double_field(tag, m.frames_per_second);
      case 2:
        return in.uint64_field(tag, m.bitrate_bps);
      case 3:
        return in.double_field(tag, m.average_latency_ms);
      case 4:
        return in.uint64_field(tag, m.dropped_frames);
      case 5:
        return in.string_field(tag, m.encoder);
      case 6:
        return in.string_field(tag, m.profile_id);
      case 7:
        return in.string_field(tag, m.encoder_kind);
      case 8:
        return in.string_field(tag, m.recovery_reason);
      default:
        return in.skip_field(tag.wire_type);
    }
  });
}

ProtoStatus decode(ProtoReader& r, BroadcastRecovery& m) {
  return read_message(r, [&](const FieldTag& tag, ProtoReader& in) -> ProtoStatus {
    switch (tag.field) {
      case 1:
        return in.string_field(tag, m.component);
      case 2:
        return in.string_field(tag, m.detail);
      case 3:
        return in.bool_field(tag, m.succeeded);
      default:
        return in.skip_field(tag.wire_type);
    }
  });
}

ProtoStatus decode(ProtoReader& r, HelperError& m) {
  return read_message(r, [&](const FieldTag& tag, ProtoReader& in) -> ProtoStatus {
    switch (tag.field) {
      case 1:
        return in.string_field(tag, m.code);
      case 2:
        return in.string_field(tag, m.message);
      case 3:
        return in.bool_field(tag, m.retryable);
      default:
        return in.skip_field(tag.wire_type);
    }
  });
}

ProtoStatus decode(ProtoReader& r, HelperStatus& m) {
  return read_message(r, [&](const FieldTag& tag, ProtoReader& in) -> ProtoStatus {
    switch (tag.field) {
      case 1:
        return in.bool_field(tag, m.ok);
      case 2:
        return in.string_field(tag, m.status);
      case 3:
        return in.string_field(tag, m.detail);
      default:
        return in.skip_field(tag.wire_type);
    }
  });
}

ProtoStatus decode(ProtoReader& r, KeyChordEvent& m) {
  return read_message(r, [&](const FieldTag& tag, ProtoReader& in) -> ProtoStatus {
    switch (tag.field) {
      case 1:
        return in.bool_field(tag, m.pressed);
      case 2:
        return in.uint64_field(tag, m.timestamp_unix_ms);
      default:
        return in.skip_field(tag.wire_type);
    }
  });
}

ProtoStatus decode(ProtoReader& r, UpdateBroadcastProfile& m) {
  return read_message(r, [&](const FieldTag& tag, ProtoReader& in) -> ProtoStatus {
    switch (tag.field) {
      case 1:
        return in.string_field(tag, m.profile_id);
      case 2:
        return in.uint32_field(tag, m.width);
      case 3:
        return in.uint32_field(tag, m.height);
      case 4:
        return in.uint32_field(tag, m.frame_rate);
      case 5:
        return in.uint32_field(tag, m.video_bitrate_kbps);
      case 6:
        return in.uint32_field(tag, m.audio_bitrate_kbps);
      default:
        return in.skip_field(tag.wire_type);
    }
  });
}

// ---- the envelope ----

// Which payload alternatives each side sends (index = field number - 10).
constexpr std::array<bool, std::variant_size_v<Payload>> kClientMembers = {
    true, true, false, true, false, true, true, true, false, false, false, false, false, true, true, false};

bool sent_by(std::size_t index, Sender sender) { return kClientMembers[index] == (sender == Sender::client); }

// Decodes the member at `index` from `nested` into `payload`, replacing any earlier member.
template <std::size_t... I>
ProtoStatus decode_member(std::size_t index, ProtoReader& nested, Payload& payload, std::index_sequence<I...>) {
  ProtoStatus status;
  // Exactly one alternative matches `index`; it is emplaced fresh, so a repeated member starts empty.
  (void)((index == I ? (status = decode(nested, payload.template emplace<I>()), true) : false) || ...);
  return status;
}

}  // namespace

std::vector<std::uint32_t> KeyChordConfiguration::chord() const {
  if (virtual_key_codes.empty() && virtual_key_code != 0) {
    return {virtual_key_code};
  }
  return virtual_key_codes;
}

std::uint32_t payload_field(const Payload& payload) {
  return kFirstPayloadField + static_cast<std::uint32_t>(payload.index());
}

Expected<HelperEnvelope, ProtoError> decode_envelope(std::span<const std::uint8_t> body, Sender sender) {
  HelperEnvelope envelope;
  envelope.contract_version = 0;
  bool has_member = false;
  ProtoReader reader(body);
  const ProtoStatus status = read_message(reader, [&](const FieldTag& tag, ProtoReader& in) -> ProtoStatus {
    if (tag.field == 1) {
      return in.uint32_field(tag, envelope.contract_version);
    }
    if (tag.field == 2) {
      return in.string_field(tag, envelope.request_id);
    }
    const std::uint64_t index = tag.field - kFirstPayloadField;
    if (tag.field < kFirstPayloadField || index >= std::variant_size_v<Payload> ||
        !sent_by(static_cast<std::size_t>(index), sender)) {
      return in.skip_field(tag.wire_type);
    }
    ProtoReader nested(std::span<const std::uint8_t>{});
    if (auto error = in.message_field(tag, nested)) {
      return error;
    }
    has_member = true;
    return decode_member(static_cast<std::size_t>(index), nested, envelope.payload,
                         std::make_index_sequence<std::variant_size_v<Payload>>{});
  });
  if (status) {
    return fail(*status);
  }
  if (!has_member) {
    return fail(ProtoError::envelope_command_missing);
  }
  return envelope;
}

std::vector<std::uint8_t> encode_envelope(const HelperEnvelope& envelope) {
  ProtoWriter writer;
  writer.reserve(256);  // most frames fit; larger ones grow once or twice
  writer.write_uint32(1, envelope.contract_version);
  writer.write_string(2, envelope.request_id);
  std::visit(
      [&](const auto& member) {
        writer.write_message(payload_field(envelope.payload), [&](ProtoWriter& nested) { encode(nested, member); });
      },
      envelope.payload);
  return writer.take();
}

namespace {

struct ErrorCodeInfo {
  std::string_view text;
  bool retryable;
  std::string_view fixed_message;
};

constexpr std::array<ErrorCodeInfo, 10> kErrorCodes = {{
    {"AUTHENTICATION_REQUIRED", false, "Authenticate must be the first helper command"},
    {"AUTHENTICATION_FAILED", false, "helper authentication failed"},
    {"ALREADY_AUTHENTICATED", false, "the helper connection is already authenticated"},
    {"CONTRACT_VERSION_UNSUPPORTED", false, "native helper contract version is unsupported"},
    {"CAPTURE_SOURCE_ENUMERATION_FAILED", true, ""},
    {"BROADCAST_START_FAILED", false, ""},
    {"BROADCAST_PROFILE_UPDATE_FAILED", true, ""},
    {"GLOBAL_PTT_CONFIGURATION_FAILED", false, ""},
    {"MICROPHONE_SHORTCUT_FAILED", false, ""},
    {"MEDIA_PIPELINE_FAILED", true, ""},
}};

const ErrorCodeInfo& info(HelperErrorCode code) { return kErrorCodes.at(static_cast<std::size_t>(code)); }

HelperError make_error(HelperErrorCode code, std::string message) {
  const ErrorCodeInfo& entry = info(code);
  if (message.empty()) {
    message = entry.fixed_message;
  }
  return HelperError{std::string(entry.text), std::move(message), entry.retryable};
}

}  // namespace

std::string_view error_code_text(HelperErrorCode code) { return info(code).text; }
bool error_code_retryable(HelperErrorCode code) { return info(code).retryable; }
std::string_view error_code_fixed_message(HelperErrorCode code) { return info(code).fixed_message; }

HelperEnvelope reply(std::string request_id, Payload payload) {
  return HelperEnvelope{kContractVersion, std::move(request_id), std::move(payload)};
}

HelperEnvelope event(Payload payload) { return reply(std::string(), std::move(payload)); }

HelperEnvelope status_reply(std::string request_id, std::string_view status, std::string_view detail) {
  return reply(std::move(request_id), HelperStatus{true, std::string(status), std::string(detail)});
}

HelperEnvelope error_reply(std::string request_id, HelperErrorCode code, std::string message) {
  return reply(std::move(request_id), make_error(code, std::move(message)));
}

HelperEnvelope status_event(std::string_view status) { return status_reply(std::string(), status); }

HelperEnvelope error_event(HelperErrorCode code, std::string message) {
  return event(make_error(code, std::move(message)));
}

HelperEnvelope recovery_event(std::string component, std::string detail) {
  return event(BroadcastRecovery{std::move(component), std::move(detail), true});
}

}  // namespace corvane::protocol
