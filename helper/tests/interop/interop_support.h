#pragma once
// Interoperability tests: our message structs beside the classes that libprotobuf generates from
// corvane_helper.proto, compared field by field, and converted from ours to libprotobuf's.

#include <google/protobuf/message.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "corvane_helper.pb.h"
#include "protocol/messages.h"

namespace corvane::protocol {

// Lets GoogleTest print our envelopes in protobuf text form instead of as raw object bytes.
void PrintTo(const HelperEnvelope& envelope, std::ostream* out);

}  // namespace corvane::protocol

namespace corvane::interop {

namespace pb = ::corvane::helper;

// Our envelope as libprotobuf's message, member by member.
pb::HelperEnvelope to_lib(const protocol::HelperEnvelope& envelope);

// The value as our writer puts it on the wire: it leaves empty strings out of repeated string fields
// and zeros out of repeated uint32 fields (libprotobuf writes every element). Our reader keeps them.
protocol::HelperEnvelope as_written(protocol::HelperEnvelope envelope);

// Expects every field of `ours` to equal the same field of `lib` (doubles bit for bit, lists element
// by element, maps entry by entry), and `lib` to hold no field that the schema does not know.
void expect_same(const protocol::HelperEnvelope& ours, const pb::HelperEnvelope& lib);

// Expects every field of `message` (not of the messages inside it) to differ from its default.
void expect_every_field_set(const google::protobuf::Message& message);

// The member the envelope carries, or nullptr.
const google::protobuf::Message* payload_message(const pb::HelperEnvelope& envelope);

// libprotobuf's serialization with deterministic map order.
std::string deterministic_bytes(const google::protobuf::Message& message);

// libprotobuf's plain SerializeToString, as a client would call it.
std::string serialized(const google::protobuf::Message& message);

std::vector<std::uint8_t> to_vector(const std::string& bytes);

// Hexadecimal text of a string's bytes ("08 01 12 02").
std::string hex_of(const std::string& bytes);

}  // namespace corvane::interop
