#pragma once
// EncodableValue: the value type of the standard message and method codecs, a variant over every
// type the standard format carries. Stand-in for Flutter's header of the same name (never shipped):
// host code written against the real wrapper compiles against this one unchanged.

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <typeinfo>
#include <variant>
#include <vector>

// Flutter's wrapper compiles under C++17 too (a Flutter app builds it so), where <compare> and
// operator<=> do not exist.
#ifdef __cpp_impl_three_way_comparison
#include <compare>
#endif

namespace flutter {

class EncodableValue;

// A list of values (format tag 12).
using EncodableList = std::vector<EncodableValue>;

// A map of values to values (format tag 13), its keys in EncodableValue's order.
using EncodableMap = std::map<EncodableValue, EncodableValue>;

// An application-defined value carried opaquely; the standard codecs refuse to encode it.
class CustomEncodableValue {
 public:
  explicit CustomEncodableValue(const std::any& value) : value_(value) {}

  // The held value, for std::any_cast.
  operator std::any&() { return value_; }
  operator const std::any&() const { return value_; }

  // The type of the held value.
  const std::type_info& type() const { return value_.type(); }

  // std::any has no value order, so a custom value is equal only to itself and ordered by address.
  bool operator<(const CustomEncodableValue& other) const { return std::less<>{}(this, &other); }
  bool operator==(const CustomEncodableValue& other) const { return this == &other; }

 private:
  std::any value_;
};

namespace internal {

// The alternatives in their fixed order: index() of a value identifies its type.
using EncodableValueVariant =
    std::variant<std::monostate, bool, int32_t, int64_t, double, std::string, std::vector<uint8_t>,
                 std::vector<int32_t>, std::vector<int64_t>, std::vector<double>, EncodableList, EncodableMap,
                 CustomEncodableValue, std::vector<float>>;

}  // namespace internal

// One value of the standard format; default-constructed it is null (std::monostate).
class EncodableValue : public internal::EncodableValueVariant {
 public:
  using super = internal::EncodableValueVariant;
  using super::super;
  using super::operator=;

  explicit EncodableValue() = default;

  // A string value; without this a string literal would be taken for a bool.
  explicit EncodableValue(const char* string) : super(std::string(string)) {}
  EncodableValue& operator=(const char* other) {
    *this = std::string(other);
    return *this;
  }

  // Implicit, so that a custom value can be passed wherever a value is expected.
  // cppcheck-suppress noExplicitConstructor
  EncodableValue(const CustomEncodableValue& v) : super(v) {}

  // Every other conversion is explicit, so that a stray pointer cannot become a bool value. The
  // argument is copied, not moved, and a non-const EncodableValue is copied through here, exactly as
  // in Flutter's wrapper.
  template <class T>
  constexpr explicit EncodableValue(T&& t) noexcept  // NOLINT(bugprone-forwarding-reference-overload)
      : super(t) {}

  // True for the null value.
  bool IsNull() const { return std::holds_alternative<std::monostate>(*this); }

  // The integer held as int32 or int64, widened; std::bad_variant_access for any other type. The
  // standard format sends a Dart int that fits in 32 bits as int32, so readers of integers use this.
  int64_t LongValue() const {
    if (std::holds_alternative<int32_t>(*this)) {
      return std::get<int32_t>(*this);
    }
    return std::get<int64_t>(*this);
  }

  // The integer held as int32 or int64, widened; nothing for any other type.
  std::optional<int64_t> TryGetLongValue() const {
    if (std::holds_alternative<int32_t>(*this)) {
      return std::get<int32_t>(*this);
    }
    if (std::holds_alternative<int64_t>(*this)) {
      return std::get<int64_t>(*this);
    }
    return std::nullopt;
  }

#ifdef __cpp_impl_three_way_comparison
  // The variant's own order (by alternative, then by value) and equality, as one partial order. A
  // NaN double is unordered against every double, itself included, so NaN keys break a map's order
  // (as they do in Flutter); the codec still carries them. Before C++20 the variant's own operators
  // compare values directly.
  friend std::partial_ordering operator<=>(const EncodableValue& lhs, const EncodableValue& rhs) {
    const auto& left = static_cast<const super&>(lhs);
    const auto& right = static_cast<const super&>(rhs);
    if (left < right) {
      return std::partial_ordering::less;
    }
    if (right < left) {
      return std::partial_ordering::greater;
    }
    // cppcheck-suppress knownConditionTrueFalse ; false for NaN, which is neither less nor greater
    if (left == right) {
      return std::partial_ordering::equivalent;
    }
    return std::partial_ordering::unordered;
  }
#endif
};

}  // namespace flutter
