#pragma once
// Typed reads of a method call's arguments, shared by every method of the remote-input channel
// (portable). Arguments count only when they are a map; anything else reads as no arguments.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <flutter/encodable_value.h>

namespace corvane::client {

// A read-only view of a call's arguments.
class MethodArguments {
 public:
  // `arguments` may be null (no arguments) or any value; only a map is looked into.
  explicit MethodArguments(const flutter::EncodableValue* arguments);

  // The string under `key`, or the empty string (missing, other type, or no arguments).
  std::string String(std::string_view key) const;
  // True only when `key` holds the bool true.
  bool Bool(std::string_view key) const;
  // The 32- or 64-bit integer under `key` when it lies within [minimum, maximum]; otherwise nothing.
  std::optional<std::int64_t> BoundedInteger(std::string_view key, std::int64_t minimum, std::int64_t maximum) const;
  // An integer (as a double) or a finite double under `key`; otherwise `fallback`.
  double Number(std::string_view key, double fallback) const;

  // Whether the call carried a map at all.
  bool Present() const { return map_ != nullptr; }

 private:
  const flutter::EncodableValue* Find(std::string_view key) const;

  const flutter::EncodableMap* map_ = nullptr;
};

}  // namespace corvane::client
