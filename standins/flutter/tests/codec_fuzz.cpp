// libFuzzer target: the three decoders of the standard codecs (message, method call, answer) on the
// same input. Any input must decode or be refused, never crash or read out of bounds; a refused
// answer must reach no result, an accepted one exactly one answer; and whatever decodes must encode,
// decode again to an equal value and encode again to the same bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "flutter/encodable_value.h"
#include "flutter/method_result.h"
#include "flutter/standard_message_codec.h"
#include "flutter/standard_method_codec.h"

namespace {

using flutter::EncodableValue;
using flutter::StandardMessageCodec;
using flutter::StandardMethodCodec;

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

// Equality in which a floating-point value equals exactly the same bits, NaN included: EncodableValue
// compares doubles as doubles, so a NaN is unequal to itself.
bool Same(const EncodableValue& a, const EncodableValue& b);

template <typename Floating>
bool SameBits(Floating a, Floating b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

template <typename Floating>
bool SameFloatingList(const std::vector<Floating>& a, const std::vector<Floating>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), SameBits<Floating>);
}

bool Same(const EncodableValue& a, const EncodableValue& b) {
  if (a.index() != b.index()) {
    return false;
  }
  if (const auto* number = std::get_if<double>(&a)) {
    return SameBits(*number, std::get<double>(b));
  }
  if (const auto* doubles = std::get_if<std::vector<double>>(&a)) {
    return SameFloatingList(*doubles, std::get<std::vector<double>>(b));
  }
  if (const auto* floats = std::get_if<std::vector<float>>(&a)) {
    return SameFloatingList(*floats, std::get<std::vector<float>>(b));
  }
  if (const auto* list = std::get_if<flutter::EncodableList>(&a)) {
    const auto& other = std::get<flutter::EncodableList>(b);
    return std::equal(list->begin(), list->end(), other.begin(), other.end(), Same);
  }
  if (const auto* map = std::get_if<flutter::EncodableMap>(&a)) {
    const auto& other = std::get<flutter::EncodableMap>(b);
    return std::equal(map->begin(), map->end(), other.begin(), other.end(),
                      [](const auto& x, const auto& y) { return Same(x.first, y.first) && Same(x.second, y.second); });
  }
  return a == b;
}

void CheckMessage(const uint8_t* data, size_t size) {
  const auto& codec = StandardMessageCodec::GetInstance();
  const auto first = codec.DecodeMessage(data, size);
  if (!first) {
    return;
  }
  const auto encoded = codec.EncodeMessage(*first);
  Require(encoded != nullptr);
  const auto second = codec.DecodeMessage(*encoded);
  Require(second != nullptr && Same(*second, *first));
  const auto again = codec.EncodeMessage(*second);
  Require(again != nullptr && *again == *encoded);
}

void CheckMethodCall(const uint8_t* data, size_t size) {
  const auto& codec = StandardMethodCodec::GetInstance();
  const auto first = codec.DecodeMethodCall(data, size);
  if (!first) {
    return;
  }
  Require(first->arguments() != nullptr);
  const auto encoded = codec.EncodeMethodCall(*first);
  Require(encoded != nullptr);
  const auto second = codec.DecodeMethodCall(*encoded);
  Require(second != nullptr && second->method_name() == first->method_name() &&
          Same(*second->arguments(), *first->arguments()));
  const auto again = codec.EncodeMethodCall(*second);
  Require(again != nullptr && *again == *encoded);
}

// Keeps the answers it receives.
struct Answer {
  bool error = false;
  std::string code;
  std::string message;
  std::optional<EncodableValue> value;
};

// Two answers alike, their values compared by Same.
bool SameAnswer(const Answer& a, const Answer& b) {
  return a.error == b.error && a.code == b.code && a.message == b.message &&
         a.value.has_value() == b.value.has_value() && (!a.value || Same(*a.value, *b.value));
}

class Recorder : public flutter::MethodResult<EncodableValue> {
 public:
  std::vector<Answer> answers;

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    answers.push_back(Answer{false, "", "", Copy(result)});
  }
  void ErrorInternal(const std::string& code, const std::string& message, const EncodableValue* details) override {
    answers.push_back(Answer{true, code, message, Copy(details)});
  }
  void NotImplementedInternal() override { std::abort(); }  // the codec never says "not implemented"

 private:
  static std::optional<EncodableValue> Copy(const EncodableValue* value) {
    return value != nullptr ? std::optional<EncodableValue>(*value) : std::nullopt;
  }
};

std::unique_ptr<std::vector<uint8_t>> Reencode(const Answer& answer) {
  const auto& codec = StandardMethodCodec::GetInstance();
  const EncodableValue* value = answer.value ? &*answer.value : nullptr;
  return answer.error ? codec.EncodeErrorEnvelope(answer.code, answer.message, value)
                      : codec.EncodeSuccessEnvelope(value);
}

void CheckEnvelope(const uint8_t* data, size_t size) {
  const auto& codec = StandardMethodCodec::GetInstance();
  Recorder first;
  const bool accepted = codec.DecodeAndProcessResponseEnvelope(data, size, &first);
  Require(first.answers.size() == (accepted ? 1u : 0u));
  if (!accepted) {
    return;
  }
  const auto encoded = Reencode(first.answers[0]);
  Require(encoded != nullptr);
  Recorder second;
  Require(codec.DecodeAndProcessResponseEnvelope(encoded->data(), encoded->size(), &second));
  Require(second.answers.size() == 1 && SameAnswer(second.answers[0], first.answers[0]));
  const auto again = Reencode(second.answers[0]);
  Require(again != nullptr && *again == *encoded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckMessage(data, size);
  CheckMethodCall(data, size);
  CheckEnvelope(data, size);
  return 0;
}
