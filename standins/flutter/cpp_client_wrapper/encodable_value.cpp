// The order and equality of EncodableValue.
#include "flutter/encodable_value.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

namespace flutter {
namespace {

// Numeric order with NaN above every number and equal to every NaN; -0 equals 0.
template <typename Floating>
std::weak_ordering CompareFloating(Floating a, Floating b) {
  const bool a_nan = std::isnan(a);
  const bool b_nan = std::isnan(b);
  if (a_nan != b_nan) {
    return a_nan ? std::weak_ordering::greater : std::weak_ordering::less;
  }
  if (a_nan) {
    return std::weak_ordering::equivalent;
  }
  if (a < b) {
    return std::weak_ordering::less;
  }
  if (b < a) {
    return std::weak_ordering::greater;
  }
  return std::weak_ordering::equivalent;
}

std::weak_ordering CompareFloatingLists(const auto& a, const auto& b) {
  return std::lexicographical_compare_three_way(a.begin(), a.end(), b.begin(), b.end(),
                                                [](auto x, auto y) { return CompareFloating(x, y); });
}

// Two values of the same alternative.
template <typename Alternative>
std::weak_ordering CompareSame(const Alternative& a, const Alternative& b) {
  if constexpr (std::is_same_v<Alternative, std::monostate>) {
    return std::weak_ordering::equivalent;
  } else if constexpr (std::is_same_v<Alternative, double>) {
    return CompareFloating(a, b);
  } else if constexpr (std::is_same_v<Alternative, std::vector<double>> ||
                       std::is_same_v<Alternative, std::vector<float>>) {
    return CompareFloatingLists(a, b);
  } else if constexpr (std::is_same_v<Alternative, EncodableList>) {
    return std::lexicographical_compare_three_way(
        a.begin(), a.end(), b.begin(), b.end(),
        [](const EncodableValue& x, const EncodableValue& y) { return x <=> y; });
  } else if constexpr (std::is_same_v<Alternative, EncodableMap>) {
    return std::lexicographical_compare_three_way(a.begin(), a.end(), b.begin(), b.end(),
                                                  [](const auto& x, const auto& y) {
                                                    const std::weak_ordering keys = x.first <=> y.first;
                                                    return std::is_neq(keys) ? keys : x.second <=> y.second;
                                                  });
  } else if constexpr (std::is_same_v<Alternative, CustomEncodableValue>) {
    return std::compare_three_way{}(&a, &b);
  } else {
    // bool, the integers, the string and the integer lists: their own total order.
    return a <=> b;
  }
}

}  // namespace

std::weak_ordering operator<=>(const EncodableValue& a, const EncodableValue& b) {
  if (a.index() != b.index()) {
    return a.index() <=> b.index();
  }
  return std::visit(
      [&b](const auto& left) -> std::weak_ordering {
        using Alternative = std::decay_t<decltype(left)>;
        return CompareSame(left, *std::get_if<Alternative>(&b));
      },
      static_cast<const EncodableValue::Variant&>(a));
}

bool operator==(const EncodableValue& a, const EncodableValue& b) { return std::is_eq(a <=> b); }

bool operator<(const EncodableValue& a, const EncodableValue& b) { return std::is_lt(a <=> b); }

}  // namespace flutter
