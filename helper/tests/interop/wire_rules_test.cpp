// Wire rules where libprotobuf and our codec meet: key lists, envelopes without a member, member
// order, and invalid UTF-8.
#include <google/protobuf/stubs/logging.h>
#include <gtest/gtest.h>

#include "interop/interop_support.h"
#include "packed_key_chord.pb.h"
#include "unit/hex.h"

namespace corvane::interop {
namespace {

using corvane::testing::hex;
using corvane::testing::to_hex;
using protocol::ProtoError;
using protocol::Sender;

// ---- key lists: one field per code, never packed ----

TEST(KeyChordCodes, TheSchemaDeclaresTheListsUnpacked) {
  for (const auto* message : {pb::ConfigureGlobalPtt::descriptor(), pb::ConfigureMicrophoneShortcut::descriptor()}) {
    const auto* codes = message->FindFieldByName("virtual_key_codes");
    ASSERT_NE(codes, nullptr) << message->name();
    EXPECT_EQ(codes->number(), 3) << message->name();
    EXPECT_TRUE(codes->is_repeated()) << message->name();
    EXPECT_FALSE(codes->is_packed()) << message->name();
  }
}

TEST(KeyChordCodes, LibprotobufWritesOneFieldPerCodeAndTheHelperReadsThem) {
  pb::HelperEnvelope ptt;
  ptt.set_contract_version(1);
  ptt.mutable_configure_global_ptt()->set_enabled(true);
  ptt.mutable_configure_global_ptt()->add_virtual_key_codes(0x11);
  ptt.mutable_configure_global_ptt()->add_virtual_key_codes(0xA0);
  pb::HelperEnvelope mic;
  mic.set_contract_version(1);
  mic.mutable_configure_microphone_shortcut()->add_virtual_key_codes(0x4D);
  mic.mutable_configure_microphone_shortcut()->add_virtual_key_codes(0x10);

  // Tag 0x18 (field 3, varint) before each code; a packed list would be one 0x1A field.
  const std::string ptt_bytes = serialized(ptt);
  EXPECT_EQ(hex_of(ptt_bytes), "08 01 8A 01 07 08 01 18 11 18 A0 01");
  const std::string mic_bytes = serialized(mic);
  EXPECT_EQ(hex_of(mic_bytes), "08 01 C2 01 04 18 4D 18 10");

  const auto decoded_ptt = protocol::decode_envelope(to_vector(ptt_bytes), Sender::client);
  ASSERT_TRUE(decoded_ptt) << protocol::proto_error_message(decoded_ptt.error());
  EXPECT_EQ(std::get<protocol::ConfigureGlobalPtt>(decoded_ptt->payload).virtual_key_codes,
            (std::vector<std::uint32_t>{0x11, 0xA0}));
  const auto decoded_mic = protocol::decode_envelope(to_vector(mic_bytes), Sender::client);
  ASSERT_TRUE(decoded_mic) << protocol::proto_error_message(decoded_mic.error());
  EXPECT_EQ(std::get<protocol::ConfigureMicrophoneShortcut>(decoded_mic->payload).virtual_key_codes,
            (std::vector<std::uint32_t>{0x4D, 0x10}));
}

TEST(KeyChordCodes, ThePackedFormIsRefusedByTheHelper) {
  corvane::interop::packed::PackedKeyChordEnvelope ptt;
  ptt.set_contract_version(1);
  ptt.set_request_id("p");
  ptt.mutable_configure_global_ptt()->set_enabled(true);
  ptt.mutable_configure_global_ptt()->add_virtual_key_codes(0x11);
  ptt.mutable_configure_global_ptt()->add_virtual_key_codes(0x41);
  corvane::interop::packed::PackedKeyChordEnvelope mic;
  mic.set_contract_version(1);
  mic.mutable_configure_microphone_shortcut()->add_virtual_key_codes(0x4D);

  const std::string ptt_bytes = serialized(ptt);
  ASSERT_EQ(hex_of(ptt_bytes), "08 01 12 01 70 8A 01 06 08 01 1A 02 11 41");  // really packed: 1A 02 11 41
  const std::string mic_bytes = serialized(mic);
  ASSERT_EQ(hex_of(mic_bytes), "08 01 C2 01 03 1A 01 4D");

  for (const std::string* bytes : {&ptt_bytes, &mic_bytes}) {
    const auto decoded = protocol::decode_envelope(to_vector(*bytes), Sender::client);
    ASSERT_FALSE(decoded) << hex_of(*bytes);
    EXPECT_EQ(decoded.error(), ProtoError::unexpected_wire_type) << hex_of(*bytes);
  }
  // libprotobuf itself accepts either form for this field: the [packed = false] option is what keeps
  // a generated client from sending the form that the helper refuses.
  pb::HelperEnvelope lenient;
  ASSERT_TRUE(lenient.ParseFromString(ptt_bytes));
  EXPECT_EQ(lenient.configure_global_ptt().virtual_key_codes_size(), 2);
}

TEST(KeyChordCodes, AnEmptyPackedRunIsRefusedToo) {
  // field 17 { field 3, wire type 2, length 0 }: written by hand, libprotobuf never writes an empty run.
  const auto decoded = protocol::decode_envelope(hex("8A 01 02 1A 00"), Sender::client);
  ASSERT_FALSE(decoded);
  EXPECT_EQ(decoded.error(), ProtoError::unexpected_wire_type);
}

// ---- the envelope's member ----

TEST(EnvelopeMember, AnEnvelopeWithoutMemberIsRefusedByBothSides) {
  pb::HelperEnvelope bare;
  bare.set_contract_version(1);
  bare.set_request_id("r1");
  const std::string bytes = serialized(bare);
  ASSERT_EQ(hex_of(bytes), "08 01 12 02 72 31");
  for (const Sender side : {Sender::client, Sender::helper}) {
    const auto decoded = protocol::decode_envelope(to_vector(bytes), side);
    ASSERT_FALSE(decoded);
    EXPECT_EQ(decoded.error(), ProtoError::envelope_command_missing);
  }
}

TEST(EnvelopeMember, LikeLibprotobufTheLastOfTwoDifferentMembersWins) {
  pb::HelperEnvelope first;
  first.set_contract_version(1);
  first.set_request_id("first");
  first.mutable_update_broadcast_profile()->set_profile_id("safe");
  pb::HelperEnvelope second;
  second.set_request_id("second");
  second.mutable_stop_broadcast();
  // Concatenated messages merge: scalars of the later one win, and the oneof holds the later member.
  const std::string bytes = serialized(first) + serialized(second);
  pb::HelperEnvelope lib;
  ASSERT_TRUE(lib.ParseFromString(bytes));
  const auto decoded = protocol::decode_envelope(to_vector(bytes), Sender::client);
  ASSERT_TRUE(decoded) << protocol::proto_error_message(decoded.error());
  expect_same(*decoded, lib);
  EXPECT_EQ(lib.payload_case(), pb::HelperEnvelope::kStopBroadcast);
}

// ---- strings ----

TEST(Strings, InvalidUtf8IsRefusedByBothSides) {
  google::protobuf::LogSilencer quiet;  // libprotobuf logs each refused string
  const char* const invalid[] = {
      "\xC3\x28",          // a lead byte without its continuation
      "\xC0\xAF",          // an overlong form of '/'
      "\xED\xA0\x80",      // a UTF-16 surrogate
      "\xF4\x90\x80\x80",  // beyond U+10FFFF
      "ok\x80",            // a stray continuation byte
  };
  for (const char* text : invalid) {
    // Our writer copies the text as it is, so it can put invalid UTF-8 on the wire.
    protocol::StartBroadcast ours;
    ours.capture_source_id = text;
    const std::vector<std::uint8_t> bytes = protocol::encode_envelope(protocol::reply("u", ours));
    SCOPED_TRACE(to_hex(bytes));
    pb::HelperEnvelope lib;
    EXPECT_FALSE(lib.ParseFromArray(bytes.data(), static_cast<int>(bytes.size())));
    const auto decoded = protocol::decode_envelope(bytes, Sender::client);
    ASSERT_FALSE(decoded);
    EXPECT_EQ(decoded.error(), ProtoError::invalid_utf8);
  }
}

}  // namespace
}  // namespace corvane::interop
