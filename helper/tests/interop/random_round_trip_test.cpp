// Randomized values cross between our codec and libprotobuf in both directions field for field.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include "interop/interop_support.h"
#include "unit/hex.h"

namespace corvane::interop {
namespace {

using corvane::testing::to_hex;
using protocol::Sender;

constexpr int kRounds = 500;

// Random field values from a fixed starting state, so every run checks the same values.
class RandomValues {
 public:
  explicit RandomValues(std::uint32_t start) : generator(start) {}

  std::uint32_t below(std::uint32_t bound) {
    return std::uniform_int_distribution<std::uint32_t>(0, bound - 1)(generator);
  }
  bool boolean() { return below(2) == 1; }

  // Zero, the maximum and the varint length boundaries come up often.
  std::uint64_t integer(std::uint64_t max) {
    switch (below(6)) {
      case 0:
        return 0;
      case 1:
        return max;
      case 2:
        return 1 + below(127);
      case 3:
        return 128 + below(16384 - 128);
      case 4: {
        const auto bits = static_cast<std::uint32_t>(std::bit_width(max));
        return std::uint64_t{1} << below(bits);
      }
      default:
        return std::uniform_int_distribution<std::uint64_t>(0, max)(generator);
    }
  }
  std::uint32_t uint32() { return static_cast<std::uint32_t>(integer(std::numeric_limits<std::uint32_t>::max())); }
  std::uint64_t uint64() { return integer(std::numeric_limits<std::uint64_t>::max()); }

  // Valid UTF-8 of one to four bytes per character, U+0000 included; empty one time in six, and now
  // and then longer than 127 bytes so that the length takes two bytes.
  std::string text() {
    const std::uint32_t kind = below(12);
    if (kind < 2) {
      return {};
    }
    const std::uint32_t length = kind == 11 ? 60 + below(140) : 1 + below(16);
    std::string out;
    for (std::uint32_t i = 0; i < length; ++i) {
      append_utf8(out, character());
    }
    return out;
  }

  template <class T>
  std::vector<T> list(std::uint32_t max_size, T (RandomValues::*element)()) {
    std::vector<T> out(below(max_size + 1));
    for (T& value : out) {
      value = (this->*element)();
    }
    return out;
  }

  std::mt19937 generator;

 private:
  char32_t character() {
    switch (below(4)) {
      case 0:
        return below(0x80);
      case 1:
        return 0x80 + below(0x800 - 0x80);
      case 2: {
        const char32_t c = 0x800 + below(0x10000 - 0x800 - 0x800);  // skips the surrogates D800-DFFF
        return c >= 0xD800 ? c + 0x800 : c;
      }
      default:
        return 0x10000 + below(0x110000 - 0x10000);
    }
  }

  static void append_utf8(std::string& out, char32_t c) {
    auto put = [&](std::uint32_t byte) { out.push_back(static_cast<char>(byte)); };
    if (c < 0x80) {
      put(c);
    } else if (c < 0x800) {
      put(0xC0 | (c >> 6));
      put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      put(0xE0 | (c >> 12));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    } else {
      put(0xF0 | (c >> 18));
      put(0x80 | ((c >> 12) & 0x3F));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    }
  }
};

protocol::StartBroadcast random_start(RandomValues& r) {
  protocol::StartBroadcast m;
  m.capture_source_id = r.text();
  m.whip_url = r.text();
  m.stream_key = r.text();
  m.width = r.uint32();
  m.height = r.uint32();
  m.frame_rate = r.uint32();
  m.video_bitrate_kbps = r.uint32();
  m.system_audio = r.boolean();
  m.exclude_app_audio = r.boolean();
  m.microphone_device_id = r.text();
  m.profile_id = r.text();
  m.auto_profile = r.boolean();
  m.audio_bitrate_kbps = r.uint32();
  return m;
}

protocol::EncoderInfo random_encoder(RandomValues& r) {
  return protocol::EncoderInfo{r.text(), r.boolean(), r.text(), r.text(), r.text(), r.text()};
}

protocol::MediaCapabilities random_capabilities(RandomValues& r) {
  protocol::MediaCapabilities m;
  m.ok = r.boolean();
  m.windows_graphics_capture_available = r.boolean();
  m.system_audio_available = r.boolean();
  m.always_true = r.boolean();
  m.usable_encoders = r.list(4, &RandomValues::text);
  m.active_encoder = r.text();
  m.active_probe_profile = r.text();
  for (std::uint32_t i = r.below(4); i > 0; --i) {
    const std::uint32_t which = r.below(3);
    std::string key = which == 0 ? "windowsGraphicsCapture" : which == 1 ? "systemAudio" : r.text();
    m.unavailable_reasons.insert_or_assign(std::move(key), r.text());
  }
  m.runtime_version = r.text();
  m.active_encoder_kind = r.text();
  m.allowed_profile_ids = r.list(4, &RandomValues::text);
  for (std::uint32_t i = r.below(5); i > 0; --i) {
    m.encoders.push_back(random_encoder(r));
  }
  return m;
}

// Where two byte strings part, with a few bytes of context on each side.
std::string first_difference(const std::vector<std::uint8_t>& ours, const std::vector<std::uint8_t>& lib) {
  std::size_t at = 0;
  while (at < ours.size() && at < lib.size() && ours[at] == lib[at]) {
    ++at;
  }
  if (at == ours.size() && at == lib.size()) {
    return "the bytes are the same (" + std::to_string(ours.size()) + " bytes)";
  }
  const std::size_t from = at < 8 ? 0 : at - 8;
  auto window = [&](const std::vector<std::uint8_t>& bytes) {
    const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(std::min(from, bytes.size()));
    const auto last = bytes.begin() + static_cast<std::ptrdiff_t>(std::min(at + 16, bytes.size()));
    return to_hex(std::vector<std::uint8_t>(first, last));
  };
  return "the bytes part at offset " + std::to_string(at) + " (of " + std::to_string(ours.size()) + " and " +
         std::to_string(lib.size()) + "), from offset " + std::to_string(from) + ":\n  ours:        " + window(ours) +
         "\n  libprotobuf: " + window(lib);
}

// Ours to libprotobuf and libprotobuf to ours for one envelope; stops the test at the first round
// that disagrees and shows both byte strings.
void check_round(const protocol::HelperEnvelope& value, Sender sender, bool byte_identical, int round) {
  SCOPED_TRACE("round " + std::to_string(round));
  const std::vector<std::uint8_t> ours = protocol::encode_envelope(value);
  pb::HelperEnvelope parsed;
  ASSERT_TRUE(parsed.ParseFromArray(ours.data(), static_cast<int>(ours.size()))) << to_hex(ours);
  const protocol::HelperEnvelope written = as_written(value);
  expect_same(written, parsed);

  const pb::HelperEnvelope lib = to_lib(value);
  const std::string lib_bytes = serialized(lib);
  const auto decoded = protocol::decode_envelope(to_vector(lib_bytes), sender);
  ASSERT_TRUE(decoded) << protocol::proto_error_message(decoded.error()) << "\n" << hex_of(lib_bytes);
  expect_same(*decoded, lib);
  EXPECT_EQ(*decoded, value);

  const std::string lib_written = deterministic_bytes(to_lib(written));
  if (byte_identical) {
    EXPECT_EQ(to_hex(ours), hex_of(lib_written));
  }
  if (::testing::Test::HasFailure()) {
    ADD_FAILURE() << first_difference(ours, to_vector(lib_written));
  }
}

TEST(RandomRoundTrip, StartBroadcast) {
  RandomValues random(2718281u);
  for (int round = 0; round < kRounds && !::testing::Test::HasFailure(); ++round) {
    protocol::HelperEnvelope value{random.uint32(), random.text(), random_start(random)};
    check_round(value, Sender::client, true, round);
  }
}

TEST(RandomRoundTrip, MediaCapabilities) {
  RandomValues random(3141592u);
  for (int round = 0; round < kRounds && !::testing::Test::HasFailure(); ++round) {
    protocol::HelperEnvelope value{random.uint32(), random.text(), random_capabilities(random)};
    check_round(value, Sender::helper, false, round);
  }
}

// The generated values reach the cases the rounds are meant to cover.
TEST(RandomRoundTrip, TheValuesCoverTheEdges) {
  RandomValues random(2718281u);
  bool zero = false;
  bool max = false;
  bool long_text = false;
  bool empty_text = false;
  bool four_byte_character = false;
  for (int round = 0; round < kRounds; ++round) {
    const protocol::StartBroadcast m = random_start(random);
    for (const std::uint32_t value : {m.width, m.height, m.frame_rate, m.video_bitrate_kbps, m.audio_bitrate_kbps}) {
      zero = zero || value == 0;
      max = max || value == std::numeric_limits<std::uint32_t>::max();
    }
    for (const std::string* text : {&m.capture_source_id, &m.whip_url, &m.stream_key}) {
      empty_text = empty_text || text->empty();
      long_text = long_text || text->size() > 127;
      four_byte_character =
          four_byte_character || text->find_first_of(std::string("\xF0\xF1\xF2\xF3\xF4")) != std::string::npos;
    }
  }
  EXPECT_TRUE(zero);
  EXPECT_TRUE(max);
  EXPECT_TRUE(long_text);
  EXPECT_TRUE(empty_text);
  EXPECT_TRUE(four_byte_character);
}

}  // namespace
}  // namespace corvane::interop
