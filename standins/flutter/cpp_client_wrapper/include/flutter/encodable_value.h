#pragma once
// EncodableValue: the value type of the standard message and method codecs, a variant over every
// type the standard format carries. Stand-in for Flutter's header of the same name (never shipped):
// host code written against the real wrapper compiles against this one unchanged.

#include <any>
#include <compare>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <typeinfo>
#include <variant>
#include <vector>

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
  using Variant = internal::EncodableValueVariant;
  using Variant::Variant;
  using Variant::operator=;

  EncodableValue() = default;

  // A string value; without this a string literal could be taken for something else than text.
  explicit EncodableValue(const char* text) : Variant(std::string(text)) {}
  EncodableValue& operator=(const char* text) {
    Variant::operator=(std::string(text));
    return *this;
  }

  // Implicit, so that a custom value can be passed wherever a value is expected.
  // cppcheck-suppress noExplicitConstructor
  EncodableValue(const CustomEncodableValue& value) : Variant(value) {}

  // True for the null value.
  bool IsNull() const { return std::holds_alternative<std::monostate>(*this); }

  // The integer held as int32 or int64, widened; std::bad_variant_access for any other type. The
  // standard format sends a Dart int that fits in 32 bits as int32, so readers of integers use this.
  int64_t LongValue() const {
    if (const auto* small = std::get_if<int32_t>(this)) {
      return *small;
    }
    return std::get<int64_t>(*this);
  }

  // A total order, so that values can be map keys: first by type (the alternative's index), then by
  // value; lists, maps and typed lists compare element by element. Doubles and floats are ordered
  // numerically with -0 equal to 0 and every NaN equal to every other NaN and above all numbers, so
  // that NaN keys keep a map consistent. Custom values compare by address. Equality is the same
  // relation: a == b exactly when neither is ordered before the other.
  //
  // Defined here, not inherited: std::variant's own comparisons would need to compare the
  // alternatives that contain EncodableValue again, which C++20 compilers reject as recursive.
  friend std::weak_ordering operator<=>(const EncodableValue& a, const EncodableValue& b);
  friend bool operator==(const EncodableValue& a, const EncodableValue& b);
  friend bool operator<(const EncodableValue& a, const EncodableValue& b);
};

}  // namespace flutter
