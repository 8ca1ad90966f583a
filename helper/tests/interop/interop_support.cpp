#include "interop/interop_support.h"

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/unknown_field_set.h>
#include <gtest/gtest.h>

#include <bit>
#include <map>
#include <string_view>
#include <variant>

#include "unit/hex.h"

namespace corvane::protocol {

void PrintTo(const HelperEnvelope& envelope, std::ostream* out) {
  *out << "{ " << interop::to_lib(envelope).ShortDebugString() << " }";
}

}  // namespace corvane::protocol

namespace corvane::interop {

namespace {

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;

std::string text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

template <class Repeated>
std::vector<std::string> strings(const Repeated& field) {
  return std::vector<std::string>(field.begin(), field.end());
}

template <class Repeated>
std::vector<std::uint32_t> uint32s(const Repeated& field) {
  return std::vector<std::uint32_t>(field.begin(), field.end());
}

template <class LibMap>
std::map<std::string, std::string> string_map(const LibMap& field) {
  std::map<std::string, std::string> out;
  for (const auto& entry : field) {
    out.emplace(entry.first, entry.second);
  }
  return out;
}

void expect_same_double(double ours, double lib, std::string_view name) {
  EXPECT_EQ(std::bit_cast<std::uint64_t>(ours), std::bit_cast<std::uint64_t>(lib))
      << name << ": ours " << ours << ", libprotobuf " << lib;
}

// ---- ours to libprotobuf ----

pb::Authenticate to_lib(const protocol::Authenticate& m) {
  pb::Authenticate out;
  out.set_nonce(text(m.nonce));
  out.set_parent_process_id(m.parent_process_id);
  return out;
}

pb::EncoderInfo to_lib(const protocol::EncoderInfo& m) {
  pb::EncoderInfo out;
  out.set_name(m.name);
  out.set_usable(m.usable);
  out.set_kind(m.kind);
  out.set_probe_profile(m.probe_profile);
  out.set_rate_control(m.rate_control);
  out.set_note(m.note);
  return out;
}

pb::MediaCapabilities to_lib(const protocol::MediaCapabilities& m) {
  pb::MediaCapabilities out;
  out.set_ok(m.ok);
  out.set_windows_graphics_capture_available(m.windows_graphics_capture_available);
  out.set_system_audio_available(m.system_audio_available);
  out.set_always_true(m.always_true);
  for (const std::string& name : m.usable_encoders) {
    out.add_usable_encoders(name);
  }
  out.set_active_encoder(m.active_encoder);
  out.set_active_probe_profile(m.active_probe_profile);
  for (const auto& [key, value] : m.unavailable_reasons) {
    (*out.mutable_unavailable_reasons())[key] = value;
  }
  out.set_runtime_version(m.runtime_version);
  out.set_active_encoder_kind(m.active_encoder_kind);
  for (const std::string& id : m.allowed_profile_ids) {
    out.add_allowed_profile_ids(id);
  }
  for (const protocol::EncoderInfo& encoder : m.encoders) {
    *out.add_encoders() = to_lib(encoder);
  }
  return out;
}

pb::CaptureSourceList to_lib(const protocol::CaptureSourceList& m) {
  pb::CaptureSourceList out;
  for (const protocol::CaptureSource& source : m.sources) {
    pb::CaptureSource* entry = out.add_sources();
    entry->set_id(source.id);
    entry->set_kind(source.kind);
    entry->set_name(source.name);
    entry->set_extra(source.extra);
  }
  return out;
}

pb::StartBroadcast to_lib(const protocol::StartBroadcast& m) {
  pb::StartBroadcast out;
  out.set_capture_source_id(m.capture_source_id);
  out.set_whip_url(m.whip_url);
  out.set_stream_key(m.stream_key);
  out.set_width(m.width);
  out.set_height(m.height);
  out.set_frame_rate(m.frame_rate);
  out.set_video_bitrate_kbps(m.video_bitrate_kbps);
  out.set_system_audio(m.system_audio);
  out.set_exclude_app_audio(m.exclude_app_audio);
  out.set_microphone_device_id(m.microphone_device_id);
  out.set_profile_id(m.profile_id);
  out.set_auto_profile(m.auto_profile);
  out.set_audio_bitrate_kbps(m.audio_bitrate_kbps);
  return out;
}

template <class Lib>
Lib chord_to_lib(const protocol::KeyChordConfiguration& m) {
  Lib out;
  out.set_enabled(m.enabled);
  out.set_virtual_key_code(m.virtual_key_code);
  for (const std::uint32_t code : m.virtual_key_codes) {
    out.add_virtual_key_codes(code);
  }
  return out;
}

template <class Lib>
Lib event_to_lib(const protocol::KeyChordEvent& m) {
  Lib out;
  out.set_pressed(m.pressed);
  out.set_timestamp_unix_ms(m.timestamp_unix_ms);
  return out;
}

pb::BroadcastStats to_lib(const protocol::BroadcastStats& m) {
  pb::BroadcastStats out;
  out.set_frames_per_second(m.frames_per_second);
  out.set_bitrate_bps(m.bitrate_bps);
  out.set_average_latency_ms(m.average_latency_ms);
  out.set_dropped_frames(m.dropped_frames);
  out.set_encoder(m.encoder);
  out.set_profile_id(m.profile_id);
  out.set_encoder_kind(m.encoder_kind);
  out.set_recovery_reason(m.recovery_reason);
  return out;
}

pb::UpdateBroadcastProfile to_lib(const protocol::UpdateBroadcastProfile& m) {
  pb::UpdateBroadcastProfile out;
  out.set_profile_id(m.profile_id);
  out.set_width(m.width);
  out.set_height(m.height);
  out.set_frame_rate(m.frame_rate);
  out.set_video_bitrate_kbps(m.video_bitrate_kbps);
  out.set_audio_bitrate_kbps(m.audio_bitrate_kbps);
  return out;
}

void set_member(pb::HelperEnvelope& e, const protocol::Authenticate& m) { *e.mutable_authenticate() = to_lib(m); }
void set_member(pb::HelperEnvelope& e, const protocol::GetMediaCapabilities& /*m*/) {
  e.mutable_get_media_capabilities();
}
void set_member(pb::HelperEnvelope& e, const protocol::MediaCapabilities& m) {
  *e.mutable_media_capabilities() = to_lib(m);
}
void set_member(pb::HelperEnvelope& e, const protocol::ListCaptureSources& /*m*/) { e.mutable_list_capture_sources(); }
void set_member(pb::HelperEnvelope& e, const protocol::CaptureSourceList& m) {
  *e.mutable_capture_source_list() = to_lib(m);
}
void set_member(pb::HelperEnvelope& e, const protocol::StartBroadcast& m) { *e.mutable_start_broadcast() = to_lib(m); }
void set_member(pb::HelperEnvelope& e, const protocol::StopBroadcast& /*m*/) { e.mutable_stop_broadcast(); }
void set_member(pb::HelperEnvelope& e, const protocol::ConfigureGlobalPtt& m) {
  *e.mutable_configure_global_ptt() = chord_to_lib<pb::ConfigureGlobalPtt>(m);
}
void set_member(pb::HelperEnvelope& e, const protocol::BroadcastStats& m) { *e.mutable_broadcast_stats() = to_lib(m); }
void set_member(pb::HelperEnvelope& e, const protocol::BroadcastRecovery& m) {
  pb::BroadcastRecovery* out = e.mutable_broadcast_recovery();
  out->set_component(m.component);
  out->set_detail(m.detail);
  out->set_succeeded(m.succeeded);
}
void set_member(pb::HelperEnvelope& e, const protocol::HelperError& m) {
  pb::HelperError* out = e.mutable_helper_error();
  out->set_code(m.code);
  out->set_message(m.message);
  out->set_retryable(m.retryable);
}
void set_member(pb::HelperEnvelope& e, const protocol::HelperStatus& m) {
  pb::HelperStatus* out = e.mutable_helper_status();
  out->set_ok(m.ok);
  out->set_status(m.status);
  out->set_detail(m.detail);
}
void set_member(pb::HelperEnvelope& e, const protocol::GlobalPttEvent& m) {
  *e.mutable_global_ptt_event() = event_to_lib<pb::GlobalPttEvent>(m);
}
void set_member(pb::HelperEnvelope& e, const protocol::UpdateBroadcastProfile& m) {
  *e.mutable_update_broadcast_profile() = to_lib(m);
}
void set_member(pb::HelperEnvelope& e, const protocol::ConfigureMicrophoneShortcut& m) {
  *e.mutable_configure_microphone_shortcut() = chord_to_lib<pb::ConfigureMicrophoneShortcut>(m);
}
void set_member(pb::HelperEnvelope& e, const protocol::MicrophoneShortcutEvent& m) {
  *e.mutable_microphone_shortcut_event() = event_to_lib<pb::MicrophoneShortcutEvent>(m);
}

// ---- field-by-field comparison ----

void expect_same(const protocol::Authenticate& ours, const pb::Authenticate& lib) {
  EXPECT_EQ(corvane::testing::to_hex(ours.nonce), hex_of(lib.nonce())) << "Authenticate.nonce";
  EXPECT_EQ(ours.parent_process_id, lib.parent_process_id()) << "Authenticate.parent_process_id";
}

void expect_same(const protocol::EncoderInfo& ours, const pb::EncoderInfo& lib) {
  EXPECT_EQ(ours.name, lib.name()) << "EncoderInfo.name";
  EXPECT_EQ(ours.usable, lib.usable()) << "EncoderInfo.usable";
  EXPECT_EQ(ours.kind, lib.kind()) << "EncoderInfo.kind";
  EXPECT_EQ(ours.probe_profile, lib.probe_profile()) << "EncoderInfo.probe_profile";
  EXPECT_EQ(ours.rate_control, lib.rate_control()) << "EncoderInfo.rate_control";
  EXPECT_EQ(ours.note, lib.note()) << "EncoderInfo.note";
}

void expect_same(const protocol::MediaCapabilities& ours, const pb::MediaCapabilities& lib) {
  EXPECT_EQ(ours.ok, lib.ok()) << "MediaCapabilities.ok";
  EXPECT_EQ(ours.windows_graphics_capture_available, lib.windows_graphics_capture_available())
      << "MediaCapabilities.windows_graphics_capture_available";
  EXPECT_EQ(ours.system_audio_available, lib.system_audio_available()) << "MediaCapabilities.system_audio_available";
  EXPECT_EQ(ours.always_true, lib.always_true()) << "MediaCapabilities.always_true";
  EXPECT_EQ(ours.usable_encoders, strings(lib.usable_encoders())) << "MediaCapabilities.usable_encoders";
  EXPECT_EQ(ours.active_encoder, lib.active_encoder()) << "MediaCapabilities.active_encoder";
  EXPECT_EQ(ours.active_probe_profile, lib.active_probe_profile()) << "MediaCapabilities.active_probe_profile";
  EXPECT_EQ(ours.unavailable_reasons, string_map(lib.unavailable_reasons())) << "MediaCapabilities.unavailable_reasons";
  EXPECT_EQ(ours.runtime_version, lib.runtime_version()) << "MediaCapabilities.runtime_version";
  EXPECT_EQ(ours.active_encoder_kind, lib.active_encoder_kind()) << "MediaCapabilities.active_encoder_kind";
  EXPECT_EQ(ours.allowed_profile_ids, strings(lib.allowed_profile_ids())) << "MediaCapabilities.allowed_profile_ids";
  ASSERT_EQ(ours.encoders.size(), static_cast<std::size_t>(lib.encoders_size())) << "MediaCapabilities.encoders";
  for (std::size_t i = 0; i < ours.encoders.size(); ++i) {
    SCOPED_TRACE("MediaCapabilities.encoders[" + std::to_string(i) + "]");
    expect_same(ours.encoders[i], lib.encoders(static_cast<int>(i)));
  }
}

void expect_same(const protocol::CaptureSourceList& ours, const pb::CaptureSourceList& lib) {
  ASSERT_EQ(ours.sources.size(), static_cast<std::size_t>(lib.sources_size())) << "CaptureSourceList.sources";
  for (std::size_t i = 0; i < ours.sources.size(); ++i) {
    SCOPED_TRACE("CaptureSourceList.sources[" + std::to_string(i) + "]");
    const protocol::CaptureSource& source = ours.sources[i];
    const pb::CaptureSource& entry = lib.sources(static_cast<int>(i));
    EXPECT_EQ(source.id, entry.id()) << "CaptureSource.id";
    EXPECT_EQ(source.kind, entry.kind()) << "CaptureSource.kind";
    EXPECT_EQ(source.name, entry.name()) << "CaptureSource.name";
    EXPECT_EQ(source.extra, entry.extra()) << "CaptureSource.extra";
  }
}

void expect_same(const protocol::StartBroadcast& ours, const pb::StartBroadcast& lib) {
  EXPECT_EQ(ours.capture_source_id, lib.capture_source_id()) << "StartBroadcast.capture_source_id";
  EXPECT_EQ(ours.whip_url, lib.whip_url()) << "StartBroadcast.whip_url";
  EXPECT_EQ(ours.stream_key, lib.stream_key()) << "StartBroadcast.stream_key";
  EXPECT_EQ(ours.width, lib.width()) << "StartBroadcast.width";
  EXPECT_EQ(ours.height, lib.height()) << "StartBroadcast.height";
  EXPECT_EQ(ours.frame_rate, lib.frame_rate()) << "StartBroadcast.frame_rate";
  EXPECT_EQ(ours.video_bitrate_kbps, lib.video_bitrate_kbps()) << "StartBroadcast.video_bitrate_kbps";
  EXPECT_EQ(ours.system_audio, lib.system_audio()) << "StartBroadcast.system_audio";
  EXPECT_EQ(ours.exclude_app_audio, lib.exclude_app_audio()) << "StartBroadcast.exclude_app_audio";
  EXPECT_EQ(ours.microphone_device_id, lib.microphone_device_id()) << "StartBroadcast.microphone_device_id";
  EXPECT_EQ(ours.profile_id, lib.profile_id()) << "StartBroadcast.profile_id";
  EXPECT_EQ(ours.auto_profile, lib.auto_profile()) << "StartBroadcast.auto_profile";
  EXPECT_EQ(ours.audio_bitrate_kbps, lib.audio_bitrate_kbps()) << "StartBroadcast.audio_bitrate_kbps";
}

template <class Lib>
void expect_same_chord(const protocol::KeyChordConfiguration& ours, const Lib& lib) {
  const std::string name = Lib::descriptor()->name();
  EXPECT_EQ(ours.enabled, lib.enabled()) << name << ".enabled";
  EXPECT_EQ(ours.virtual_key_code, lib.virtual_key_code()) << name << ".virtual_key_code";
  EXPECT_EQ(ours.virtual_key_codes, uint32s(lib.virtual_key_codes())) << name << ".virtual_key_codes";
}

template <class Lib>
void expect_same_event(const protocol::KeyChordEvent& ours, const Lib& lib) {
  const std::string name = Lib::descriptor()->name();
  EXPECT_EQ(ours.pressed, lib.pressed()) << name << ".pressed";
  EXPECT_EQ(ours.timestamp_unix_ms, lib.timestamp_unix_ms()) << name << ".timestamp_unix_ms";
}

void expect_same(const protocol::BroadcastStats& ours, const pb::BroadcastStats& lib) {
  expect_same_double(ours.frames_per_second, lib.frames_per_second(), "BroadcastStats.frames_per_second");
  EXPECT_EQ(ours.bitrate_bps, lib.bitrate_bps()) << "BroadcastStats.bitrate_bps";
  expect_same_double(ours.average_latency_ms, lib.average_latency_ms(), "BroadcastStats.average_latency_ms");
  EXPECT_EQ(ours.dropped_frames, lib.dropped_frames()) << "BroadcastStats.dropped_frames";
  EXPECT_EQ(ours.encoder, lib.encoder()) << "BroadcastStats.encoder";
  EXPECT_EQ(ours.profile_id, lib.profile_id()) << "BroadcastStats.profile_id";
  EXPECT_EQ(ours.encoder_kind, lib.encoder_kind()) << "BroadcastStats.encoder_kind";
  EXPECT_EQ(ours.recovery_reason, lib.recovery_reason()) << "BroadcastStats.recovery_reason";
}

void expect_same(const protocol::BroadcastRecovery& ours, const pb::BroadcastRecovery& lib) {
  EXPECT_EQ(ours.component, lib.component()) << "BroadcastRecovery.component";
  EXPECT_EQ(ours.detail, lib.detail()) << "BroadcastRecovery.detail";
  EXPECT_EQ(ours.succeeded, lib.succeeded()) << "BroadcastRecovery.succeeded";
}

void expect_same(const protocol::HelperError& ours, const pb::HelperError& lib) {
  EXPECT_EQ(ours.code, lib.code()) << "HelperError.code";
  EXPECT_EQ(ours.message, lib.message()) << "HelperError.message";
  EXPECT_EQ(ours.retryable, lib.retryable()) << "HelperError.retryable";
}

void expect_same(const protocol::HelperStatus& ours, const pb::HelperStatus& lib) {
  EXPECT_EQ(ours.ok, lib.ok()) << "HelperStatus.ok";
  EXPECT_EQ(ours.status, lib.status()) << "HelperStatus.status";
  EXPECT_EQ(ours.detail, lib.detail()) << "HelperStatus.detail";
}

void expect_same(const protocol::UpdateBroadcastProfile& ours, const pb::UpdateBroadcastProfile& lib) {
  EXPECT_EQ(ours.profile_id, lib.profile_id()) << "UpdateBroadcastProfile.profile_id";
  EXPECT_EQ(ours.width, lib.width()) << "UpdateBroadcastProfile.width";
  EXPECT_EQ(ours.height, lib.height()) << "UpdateBroadcastProfile.height";
  EXPECT_EQ(ours.frame_rate, lib.frame_rate()) << "UpdateBroadcastProfile.frame_rate";
  EXPECT_EQ(ours.video_bitrate_kbps, lib.video_bitrate_kbps()) << "UpdateBroadcastProfile.video_bitrate_kbps";
  EXPECT_EQ(ours.audio_bitrate_kbps, lib.audio_bitrate_kbps()) << "UpdateBroadcastProfile.audio_bitrate_kbps";
}

// The member comparisons, one per alternative of our payload.
void expect_member(const protocol::Authenticate& m, const pb::HelperEnvelope& e) { expect_same(m, e.authenticate()); }
void expect_member(const protocol::GetMediaCapabilities& /*m*/, const pb::HelperEnvelope& /*e*/) {}
void expect_member(const protocol::MediaCapabilities& m, const pb::HelperEnvelope& e) {
  expect_same(m, e.media_capabilities());
}
void expect_member(const protocol::ListCaptureSources& /*m*/, const pb::HelperEnvelope& /*e*/) {}
void expect_member(const protocol::CaptureSourceList& m, const pb::HelperEnvelope& e) {
  expect_same(m, e.capture_source_list());
}
void expect_member(const protocol::StartBroadcast& m, const pb::HelperEnvelope& e) {
  expect_same(m, e.start_broadcast());
}
void expect_member(const protocol::StopBroadcast& /*m*/, const pb::HelperEnvelope& /*e*/) {}
void expect_member(const protocol::ConfigureGlobalPtt& m, const pb::HelperEnvelope& e) {
  expect_same_chord(m, e.configure_global_ptt());
}
void expect_member(const protocol::BroadcastStats& m, const pb::HelperEnvelope& e) {
  expect_same(m, e.broadcast_stats());
}
void expect_member(const protocol::BroadcastRecovery& m, const pb::HelperEnvelope& e) {
  expect_same(m, e.broadcast_recovery());
}
void expect_member(const protocol::HelperError& m, const pb::HelperEnvelope& e) { expect_same(m, e.helper_error()); }
void expect_member(const protocol::HelperStatus& m, const pb::HelperEnvelope& e) { expect_same(m, e.helper_status()); }
void expect_member(const protocol::GlobalPttEvent& m, const pb::HelperEnvelope& e) {
  expect_same_event(m, e.global_ptt_event());
}
void expect_member(const protocol::UpdateBroadcastProfile& m, const pb::HelperEnvelope& e) {
  expect_same(m, e.update_broadcast_profile());
}
void expect_member(const protocol::ConfigureMicrophoneShortcut& m, const pb::HelperEnvelope& e) {
  expect_same_chord(m, e.configure_microphone_shortcut());
}
void expect_member(const protocol::MicrophoneShortcutEvent& m, const pb::HelperEnvelope& e) {
  expect_same_event(m, e.microphone_shortcut_event());
}

void expect_no_unknown_fields(const Message& message) {
  const auto* reflection = message.GetReflection();
  EXPECT_TRUE(reflection->GetUnknownFields(message).empty())
      << message.GetDescriptor()->full_name() << " holds fields the schema does not know";
  std::vector<const FieldDescriptor*> fields;
  reflection->ListFields(message, &fields);
  for (const FieldDescriptor* field : fields) {
    if (field->cpp_type() != FieldDescriptor::CPPTYPE_MESSAGE || field->is_map()) {
      continue;
    }
    if (field->is_repeated()) {
      for (int i = 0; i < reflection->FieldSize(message, field); ++i) {
        expect_no_unknown_fields(reflection->GetRepeatedMessage(message, field, i));
      }
    } else {
      expect_no_unknown_fields(reflection->GetMessage(message, field));
    }
  }
}

}  // namespace

pb::HelperEnvelope to_lib(const protocol::HelperEnvelope& envelope) {
  pb::HelperEnvelope out;
  out.set_contract_version(envelope.contract_version);
  out.set_request_id(envelope.request_id);
  std::visit([&](const auto& member) { set_member(out, member); }, envelope.payload);
  return out;
}

void expect_same(const protocol::HelperEnvelope& ours, const pb::HelperEnvelope& lib) {
  EXPECT_EQ(ours.contract_version, lib.contract_version()) << "HelperEnvelope.contract_version";
  EXPECT_EQ(ours.request_id, lib.request_id()) << "HelperEnvelope.request_id";
  expect_no_unknown_fields(lib);
  ASSERT_EQ(protocol::payload_field(ours.payload), static_cast<std::uint32_t>(lib.payload_case()))
      << "HelperEnvelope.payload member";
  std::visit([&](const auto& member) { expect_member(member, lib); }, ours.payload);
}

void expect_every_field_set(const Message& message) {
  const auto* descriptor = message.GetDescriptor();
  const auto* reflection = message.GetReflection();
  for (int i = 0; i < descriptor->field_count(); ++i) {
    const FieldDescriptor* field = descriptor->field(i);
    if (field->is_repeated()) {
      EXPECT_GT(reflection->FieldSize(message, field), 0) << field->full_name() << " is empty";
    } else {
      EXPECT_TRUE(reflection->HasField(message, field)) << field->full_name() << " holds its default";
    }
  }
}

const Message* payload_message(const pb::HelperEnvelope& envelope) {
  const auto* oneof = pb::HelperEnvelope::descriptor()->FindOneofByName("payload");
  const auto* reflection = envelope.GetReflection();
  const FieldDescriptor* member = reflection->GetOneofFieldDescriptor(envelope, oneof);
  return member == nullptr ? nullptr : &reflection->GetMessage(envelope, member);
}

std::string deterministic_bytes(const Message& message) {
  std::string out;
  {
    google::protobuf::io::StringOutputStream stream(&out);
    google::protobuf::io::CodedOutputStream coded(&stream);
    coded.SetSerializationDeterministic(true);
    EXPECT_TRUE(message.SerializeToCodedStream(&coded));
  }
  return out;
}

std::string serialized(const Message& message) {
  std::string out;
  EXPECT_TRUE(message.SerializeToString(&out));
  return out;
}

std::vector<std::uint8_t> to_vector(const std::string& bytes) {
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

std::string hex_of(const std::string& bytes) { return corvane::testing::to_hex(to_vector(bytes)); }

protocol::HelperEnvelope as_written(protocol::HelperEnvelope envelope) {
  auto drop = [](auto& list, const auto& empty) { std::erase(list, empty); };
  if (auto* caps = std::get_if<protocol::MediaCapabilities>(&envelope.payload)) {
    drop(caps->usable_encoders, std::string());
    drop(caps->allowed_profile_ids, std::string());
  } else if (auto* ptt = std::get_if<protocol::ConfigureGlobalPtt>(&envelope.payload)) {
    drop(ptt->virtual_key_codes, 0u);
  } else if (auto* mic = std::get_if<protocol::ConfigureMicrophoneShortcut>(&envelope.payload)) {
    drop(mic->virtual_key_codes, 0u);
  }
  return envelope;
}

}  // namespace corvane::interop
