// Every message crosses between our codec and libprotobuf in both directions with every field intact.
#include <google/protobuf/util/message_differencer.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "interop/samples.h"
#include "unit/hex.h"

namespace corvane::interop {
namespace {

using corvane::testing::to_hex;
using google::protobuf::util::MessageDifferencer;
using protocol::Sender;

class EnvelopeInterop : public ::testing::TestWithParam<Sample> {};

// The two hand-built values agree with each other, so each side of every check below is the same value.
TEST_P(EnvelopeInterop, TheTwoHandBuiltValuesAgree) {
  const Sample& sample = GetParam();
  expect_same(sample.ours, sample.lib);
  // to_lib (used by the randomized tests) builds exactly the hand-built libprotobuf value.
  std::string difference;
  MessageDifferencer differencer;
  differencer.ReportDifferencesToString(&difference);
  EXPECT_TRUE(differencer.Compare(sample.lib, to_lib(sample.ours))) << difference;
}

TEST_P(EnvelopeInterop, TheSampleSetsEveryFieldOfItsMember) {
  const Sample& sample = GetParam();
  const google::protobuf::Message* member = payload_message(sample.lib);
  ASSERT_NE(member, nullptr);
  if (sample.every_field_set) {
    expect_every_field_set(*member);
  }
}

TEST_P(EnvelopeInterop, LibprotobufBytesDecodeToTheSameFields) {
  const Sample& sample = GetParam();
  const std::string bytes = serialized(sample.lib);
  const auto decoded = protocol::decode_envelope(to_vector(bytes), sample.sender);
  ASSERT_TRUE(decoded) << protocol::proto_error_message(decoded.error()) << "\nbytes: " << hex_of(bytes);
  expect_same(*decoded, sample.lib);
  EXPECT_EQ(*decoded, sample.ours);
}

TEST_P(EnvelopeInterop, OurBytesParseInLibprotobufToTheSameFields) {
  const Sample& sample = GetParam();
  const std::vector<std::uint8_t> bytes = protocol::encode_envelope(sample.ours);
  pb::HelperEnvelope parsed;
  ASSERT_TRUE(parsed.ParseFromArray(bytes.data(), static_cast<int>(bytes.size()))) << "bytes: " << to_hex(bytes);
  const protocol::HelperEnvelope written = as_written(sample.ours);
  expect_same(written, parsed);
  std::string difference;
  MessageDifferencer differencer;
  differencer.ReportDifferencesToString(&difference);
  EXPECT_TRUE(differencer.Compare(to_lib(written), parsed)) << difference << "ours: " << to_hex(bytes);
}

// The decoder of one side knows only the members of the other side: a member it does not receive
// is an unknown field, so the envelope has no command.
TEST_P(EnvelopeInterop, TheSendersOwnSideDoesNotAcceptIt) {
  const Sample& sample = GetParam();
  const Sender wrong_side = sample.sender == Sender::client ? Sender::helper : Sender::client;
  const std::string bytes = serialized(sample.lib);
  const auto decoded = protocol::decode_envelope(to_vector(bytes), wrong_side);
  ASSERT_FALSE(decoded) << "bytes: " << hex_of(bytes);
  EXPECT_EQ(decoded.error(), protocol::ProtoError::envelope_command_missing);
}

std::string sample_name(const ::testing::TestParamInfo<Sample>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(ClientCommands, EnvelopeInterop, ::testing::ValuesIn(client_samples()), sample_name);
INSTANTIATE_TEST_SUITE_P(HelperMessages, EnvelopeInterop, ::testing::ValuesIn(helper_samples()), sample_name);

// ---- byte for byte ----

// Our writer and libprotobuf's (deterministic) put the same bytes on the wire for every message
// except MediaCapabilities, whose field order differs by design.
class SameBytes : public ::testing::TestWithParam<Sample> {};

TEST_P(SameBytes, OurBytesEqualLibprotobufBytes) {
  const Sample& sample = GetParam();
  EXPECT_EQ(to_hex(protocol::encode_envelope(sample.ours)),
            hex_of(deterministic_bytes(to_lib(as_written(sample.ours)))));
}

std::vector<Sample> byte_identical_samples() {
  std::vector<Sample> out;
  for (auto samples : {client_samples(), helper_samples()}) {
    for (Sample& sample : samples) {
      if (sample.byte_identical) {
        out.push_back(std::move(sample));
      }
    }
  }
  return out;
}

INSTANTIATE_TEST_SUITE_P(EveryMessageButMediaCapabilities, SameBytes, ::testing::ValuesIn(byte_identical_samples()),
                         sample_name);

// libprotobuf writes fields in number order, so `ok` (12) comes last; the helper writes it first and
// everything else exactly as libprotobuf does (map entries included, as no key or value is empty).
TEST(SameBytesExceptOrder, MediaCapabilitiesMovesOkToTheFront) {
  const std::vector<Sample> samples = helper_samples();
  const auto caps = std::find_if(samples.begin(), samples.end(),
                                 [](const Sample& sample) { return sample.name == "MediaCapabilities"; });
  ASSERT_NE(caps, samples.end());
  ASSERT_TRUE(caps->lib.media_capabilities().ok());
  const std::string lib_envelope = deterministic_bytes(caps->lib);
  const std::string lib_member = deterministic_bytes(caps->lib.media_capabilities());
  const std::string ok_field("\x60\x01", 2);
  ASSERT_TRUE(lib_member.ends_with(ok_field)) << hex_of(lib_member);
  ASSERT_TRUE(lib_envelope.ends_with(lib_member));  // the member is the envelope's last field

  std::string expected = lib_envelope;
  expected.replace(expected.size() - lib_member.size(), lib_member.size(),
                   ok_field + lib_member.substr(0, lib_member.size() - ok_field.size()));
  EXPECT_EQ(to_hex(protocol::encode_envelope(caps->ours)), hex_of(expected));
}

// ---- the schema file and our payload numbering ----

TEST(SchemaFile, EnvelopeFieldsAndPayloadMembersAreNumberedLikeOurCodec) {
  const auto* envelope = pb::HelperEnvelope::descriptor();
  EXPECT_EQ(envelope->file()->package(), "corvane.helper");
  const auto* version = envelope->FindFieldByNumber(1);
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version->name(), "contract_version");
  EXPECT_EQ(version->type(), google::protobuf::FieldDescriptor::TYPE_UINT32);
  const auto* request_id = envelope->FindFieldByNumber(2);
  ASSERT_NE(request_id, nullptr);
  EXPECT_EQ(request_id->name(), "request_id");
  EXPECT_EQ(request_id->type(), google::protobuf::FieldDescriptor::TYPE_STRING);
  const auto* payload = envelope->FindOneofByName("payload");
  ASSERT_NE(payload, nullptr);
  ASSERT_EQ(static_cast<std::size_t>(payload->field_count()), std::variant_size_v<protocol::Payload>);
  for (int i = 0; i < payload->field_count(); ++i) {
    EXPECT_EQ(payload->field(i)->number(), static_cast<int>(protocol::kFirstPayloadField) + i)
        << payload->field(i)->name();
  }
  EXPECT_EQ(envelope->field_count(), 2 + payload->field_count());
}

// Together with the per-sample checks above (member number and fields), this pins every payload
// member of our variant to the member of the same number in the schema file.
TEST(SchemaFile, TheSamplesCoverEveryPayloadMemberWithItsSender) {
  std::set<std::uint32_t> client_members;
  std::set<std::uint32_t> helper_members;
  for (const Sample& sample : client_samples()) {
    EXPECT_EQ(sample.sender, Sender::client) << sample.name;
    client_members.insert(protocol::payload_field(sample.ours.payload));
  }
  for (const Sample& sample : helper_samples()) {
    EXPECT_EQ(sample.sender, Sender::helper) << sample.name;
    helper_members.insert(protocol::payload_field(sample.ours.payload));
  }
  EXPECT_EQ(client_members, (std::set<std::uint32_t>{10, 11, 13, 15, 16, 17, 23, 24}));
  EXPECT_EQ(helper_members, (std::set<std::uint32_t>{12, 14, 18, 19, 20, 21, 22, 25}));
}

}  // namespace
}  // namespace corvane::interop
