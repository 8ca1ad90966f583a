// libFuzzer target: the envelope decoder, for frames from either side. Any input must decode or fail
// with an error, never crash; what decodes must survive an encode/decode round trip unchanged.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "protocol/messages.h"

namespace {

void check_round_trip(std::span<const std::uint8_t> input, corvane::protocol::Sender sender) {
  using corvane::protocol::decode_envelope;
  using corvane::protocol::encode_envelope;
  const auto first = decode_envelope(input, sender);
  if (!first) {
    return;
  }
  const auto encoded = encode_envelope(*first);
  const auto second = decode_envelope(encoded, sender);
  if (!second) {
    std::abort();  // the encoder wrote something the decoder refuses
  }
  // Compared as bytes: decoded doubles may be NaN, which never equals itself.
  if (encode_envelope(*second) != encoded) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  check_round_trip(input, corvane::protocol::Sender::client);
  check_round_trip(input, corvane::protocol::Sender::helper);
  return 0;
}
