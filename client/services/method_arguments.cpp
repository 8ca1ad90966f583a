#include "services/method_arguments.h"

#include <cmath>

namespace corvane::client {

MethodArguments::MethodArguments(const flutter::EncodableValue* arguments)
    : map_(arguments != nullptr ? std::get_if<flutter::EncodableMap>(arguments) : nullptr) {}

const flutter::EncodableValue* MethodArguments::Find(std::string_view key) const {
  if (map_ == nullptr) {
    return nullptr;
  }
  const auto found = map_->find(flutter::EncodableValue(std::string(key)));
  return found == map_->end() ? nullptr : &found->second;
}

std::string MethodArguments::String(std::string_view key) const {
  const flutter::EncodableValue* value = Find(key);
  const auto* text = value != nullptr ? std::get_if<std::string>(value) : nullptr;
  return text != nullptr ? *text : std::string();
}

bool MethodArguments::Bool(std::string_view key) const {
  const flutter::EncodableValue* value = Find(key);
  const auto* flag = value != nullptr ? std::get_if<bool>(value) : nullptr;
  return flag != nullptr && *flag;
}

std::optional<std::int64_t> MethodArguments::BoundedInteger(std::string_view key, std::int64_t minimum,
                                                            std::int64_t maximum) const {
  const flutter::EncodableValue* value = Find(key);
  if (value == nullptr) {
    return std::nullopt;
  }
  std::int64_t number = 0;
  if (const auto* small = std::get_if<std::int32_t>(value)) {
    number = *small;
  } else if (const auto* large = std::get_if<std::int64_t>(value)) {
    number = *large;
  } else {
    return std::nullopt;
  }
  if (number < minimum || number > maximum) {
    return std::nullopt;
  }
  return number;
}

double MethodArguments::Number(std::string_view key, double fallback) const {
  const flutter::EncodableValue* value = Find(key);
  if (value == nullptr) {
    return fallback;
  }
  if (const auto* small = std::get_if<std::int32_t>(value)) {
    return static_cast<double>(*small);
  }
  if (const auto* large = std::get_if<std::int64_t>(value)) {
    return static_cast<double>(*large);
  }
  if (const auto* real = std::get_if<double>(value)) {
    return std::isfinite(*real) ? *real : fallback;
  }
  return fallback;
}

}  // namespace corvane::client
