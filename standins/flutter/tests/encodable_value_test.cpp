// EncodableValue: its alternatives and their order, construction, LongValue, order and equality.
#include <gtest/gtest.h>

#include <any>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "flutter/encodable_value.h"

namespace flutter {
namespace {

// Host code relies on the exact alternatives and their order (index(), std::get by index).
static_assert(
    std::is_base_of_v<std::variant<std::monostate, bool, int32_t, int64_t, double, std::string, std::vector<uint8_t>,
                                   std::vector<int32_t>, std::vector<int64_t>, std::vector<double>, EncodableList,
                                   EncodableMap, CustomEncodableValue, std::vector<float>>,
                      EncodableValue>);
static_assert(std::is_same_v<EncodableList, std::vector<EncodableValue>>);
static_assert(std::is_same_v<EncodableMap, std::map<EncodableValue, EncodableValue>>);

// A custom value converts implicitly; a pointer never becomes a value (it would become a bool).
// Whether other types convert implicitly depends on the compiler (GCC lets the variant's own
// converting constructor through, clang does not), so host code always writes EncodableValue(...).
static_assert(std::is_convertible_v<CustomEncodableValue, EncodableValue>);
static_assert(!std::is_convertible_v<const EncodableValue*, EncodableValue>);

TEST(EncodableValueConstruction, DefaultIsNull) {
  const EncodableValue value;
  EXPECT_TRUE(value.IsNull());
  EXPECT_TRUE(std::holds_alternative<std::monostate>(value));
  EXPECT_EQ(value.index(), 0u);
}

TEST(EncodableValueConstruction, EachAlternativeHasItsPlace) {
  EXPECT_EQ(EncodableValue(std::monostate{}).index(), 0u);
  EXPECT_EQ(EncodableValue(true).index(), 1u);
  EXPECT_EQ(EncodableValue(int32_t{7}).index(), 2u);
  EXPECT_EQ(EncodableValue(int64_t{7}).index(), 3u);
  EXPECT_EQ(EncodableValue(7.5).index(), 4u);
  EXPECT_EQ(EncodableValue(std::string("text")).index(), 5u);
  EXPECT_EQ(EncodableValue(std::vector<uint8_t>{1}).index(), 6u);
  EXPECT_EQ(EncodableValue(std::vector<int32_t>{1}).index(), 7u);
  EXPECT_EQ(EncodableValue(std::vector<int64_t>{1}).index(), 8u);
  EXPECT_EQ(EncodableValue(std::vector<double>{1}).index(), 9u);
  EXPECT_EQ(EncodableValue(EncodableList{}).index(), 10u);
  EXPECT_EQ(EncodableValue(EncodableMap{}).index(), 11u);
  EXPECT_EQ(EncodableValue(CustomEncodableValue(std::any(1))).index(), 12u);
  EXPECT_EQ(EncodableValue(std::vector<float>{1}).index(), 13u);
}

TEST(EncodableValueConstruction, LiteralsPickTheNaturalType) {
  EXPECT_TRUE(std::holds_alternative<int32_t>(EncodableValue(5)));
  EXPECT_TRUE(std::holds_alternative<bool>(EncodableValue(false)));
  EXPECT_TRUE(std::holds_alternative<double>(EncodableValue(0.25)));
  const EncodableValue text("corvane");
  ASSERT_TRUE(std::holds_alternative<std::string>(text));
  EXPECT_EQ(std::get<std::string>(text), "corvane");
}

TEST(EncodableValueConstruction, AssignmentReplacesTheAlternative) {
  EncodableValue value(3);
  value = "three";
  ASSERT_TRUE(std::holds_alternative<std::string>(value));
  EXPECT_EQ(std::get<std::string>(value), "three");
  value = int64_t{3};
  EXPECT_TRUE(std::holds_alternative<int64_t>(value));
  value = EncodableValue();
  EXPECT_TRUE(value.IsNull());
}

TEST(EncodableValueConstruction, NestedListsAndMapsAreReadable) {
  const EncodableValue value(EncodableMap{
      {EncodableValue("list"), EncodableValue(EncodableList{EncodableValue(1), EncodableValue("two")})},
  });
  const auto& map = std::get<EncodableMap>(value);
  const auto entry = map.find(EncodableValue("list"));
  ASSERT_NE(entry, map.end());
  const auto& list = std::get<EncodableList>(entry->second);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(std::get<int32_t>(list[0]), 1);
  EXPECT_EQ(std::get<std::string>(list[1]), "two");
}

TEST(EncodableValueConstruction, CustomValueCarriesAnything) {
  const CustomEncodableValue custom(std::any(std::string("opaque")));
  EXPECT_EQ(custom.type(), typeid(std::string));
  EXPECT_EQ(std::any_cast<std::string>(static_cast<const std::any&>(custom)), "opaque");
  const EncodableValue value = custom;  // implicit, as host code may pass one where a value is expected
  ASSERT_TRUE(std::holds_alternative<CustomEncodableValue>(value));
  EXPECT_EQ(std::get<CustomEncodableValue>(value).type(), typeid(std::string));
}

TEST(EncodableValueLongValue, WidensBothIntegerTypes) {
  EXPECT_EQ(EncodableValue(int32_t{-5}).LongValue(), -5);
  EXPECT_EQ(EncodableValue(std::numeric_limits<int32_t>::min()).LongValue(), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(EncodableValue(int64_t{1} << 40).LongValue(), int64_t{1} << 40);
  EXPECT_EQ(EncodableValue(std::numeric_limits<int64_t>::max()).LongValue(), std::numeric_limits<int64_t>::max());
}

TEST(EncodableValueLongValue, ThrowsForAnyOtherType) {
  EXPECT_THROW((void)EncodableValue().LongValue(), std::bad_variant_access);
  EXPECT_THROW((void)EncodableValue(1.0).LongValue(), std::bad_variant_access);
  EXPECT_THROW((void)EncodableValue(true).LongValue(), std::bad_variant_access);
  EXPECT_THROW((void)EncodableValue("1").LongValue(), std::bad_variant_access);
  EXPECT_THROW((void)EncodableValue(std::vector<int32_t>{1}).LongValue(), std::bad_variant_access);
}

TEST(EncodableValueLongValue, TryGetWidensBothIntegerTypesAndNothingElse) {
  EXPECT_EQ(EncodableValue(int32_t{-5}).TryGetLongValue(), std::optional<int64_t>(-5));
  EXPECT_EQ(EncodableValue(std::numeric_limits<int64_t>::min()).TryGetLongValue(),
            std::optional<int64_t>(std::numeric_limits<int64_t>::min()));
  for (const EncodableValue& other : {EncodableValue(), EncodableValue(1.0), EncodableValue(true), EncodableValue("1"),
                                      EncodableValue(std::vector<int64_t>{1})}) {
    EXPECT_EQ(other.TryGetLongValue(), std::nullopt) << other.index();
  }
}

TEST(EncodableValueOrder, TypeComesBeforeValue) {
  EXPECT_LT(EncodableValue(), EncodableValue(false));
  EXPECT_LT(EncodableValue(true), EncodableValue(int32_t{-100}));          // bool before int32
  EXPECT_LT(EncodableValue(int32_t{100}), EncodableValue(int64_t{-100}));  // int32 before int64
  EXPECT_LT(EncodableValue(int64_t{100}), EncodableValue(-100.0));         // int64 before double
  EXPECT_LT(EncodableValue(1e300), EncodableValue(""));                    // double before string
  EXPECT_LT(EncodableValue(EncodableList{}), EncodableValue(EncodableMap{}));
  EXPECT_LT(EncodableValue(EncodableMap{}), EncodableValue(std::vector<float>{}));
  EXPECT_FALSE(EncodableValue(int64_t{-100}) < EncodableValue(int32_t{100}));
}

TEST(EncodableValueOrder, ValuesOfOneType) {
  EXPECT_LT(EncodableValue(false), EncodableValue(true));
  EXPECT_LT(EncodableValue(-1), EncodableValue(0));
  EXPECT_LT(EncodableValue(int64_t{-1}), EncodableValue(int64_t{0}));
  EXPECT_LT(EncodableValue("a"), EncodableValue("ab"));
  EXPECT_LT(EncodableValue("ab"), EncodableValue("b"));
  EXPECT_LT(EncodableValue(std::vector<uint8_t>{1, 2}), EncodableValue(std::vector<uint8_t>{1, 3}));
  EXPECT_LT(EncodableValue(std::vector<int32_t>{1}), EncodableValue(std::vector<int32_t>{1, 0}));
  EXPECT_FALSE(EncodableValue("b") < EncodableValue("ab"));
}

TEST(EncodableValueOrder, ListsAndMapsCompareElementByElement) {
  const EncodableValue short_list(EncodableList{EncodableValue(1)});
  const EncodableValue longer_list(EncodableList{EncodableValue(1), EncodableValue()});
  const EncodableValue larger_first(EncodableList{EncodableValue(2)});
  EXPECT_LT(short_list, longer_list);
  EXPECT_LT(longer_list, larger_first);

  const EncodableValue map_a(EncodableMap{{EncodableValue("k"), EncodableValue(1)}});
  const EncodableValue map_b(EncodableMap{{EncodableValue("k"), EncodableValue(2)}});
  const EncodableValue map_c(EncodableMap{{EncodableValue("l"), EncodableValue(0)}});
  EXPECT_LT(map_a, map_b);  // same key, smaller value
  EXPECT_LT(map_b, map_c);  // smaller key decides before values
  EXPECT_FALSE(map_c < map_a);
}

TEST(EncodableValueOrder, FloatingPointFollowsDoubleRules) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double infinity = std::numeric_limits<double>::infinity();
  EXPECT_LT(EncodableValue(-infinity), EncodableValue(-1.0));
  EXPECT_EQ(EncodableValue(-0.0), EncodableValue(0.0));
  // NaN is unordered against every double, itself included, and unequal to itself.
  EXPECT_EQ(EncodableValue(nan) <=> EncodableValue(nan), std::partial_ordering::unordered);
  EXPECT_EQ(EncodableValue(nan) <=> EncodableValue(infinity), std::partial_ordering::unordered);
  EXPECT_NE(EncodableValue(nan), EncodableValue(nan));
  EXPECT_EQ(EncodableValue(std::vector<double>{1.0, nan}) <=> EncodableValue(std::vector<double>{1.0, 2.0}),
            std::partial_ordering::unordered);
  EXPECT_NE(EncodableValue(std::vector<float>{std::nanf("")}), EncodableValue(std::vector<float>{std::nanf("")}));
  // The type still comes first: a NaN double is before every string.
  EXPECT_LT(EncodableValue(nan), EncodableValue(""));
  EXPECT_LT(EncodableValue(EncodableList{EncodableValue(nan)}), EncodableValue(EncodableList{EncodableValue("")}));
}

TEST(EncodableValueEquality, SameTypeAndSameValue) {
  EXPECT_EQ(EncodableValue("x"), EncodableValue(std::string("x")));
  EXPECT_NE(EncodableValue(int32_t{5}), EncodableValue(int64_t{5}));
  EXPECT_NE(EncodableValue(int32_t{5}), EncodableValue(5.0));
  EXPECT_NE(EncodableValue(), EncodableValue(false));
  const EncodableValue nested(EncodableList{EncodableValue(EncodableMap{{EncodableValue(1), EncodableValue("v")}})});
  const EncodableValue same(EncodableList{EncodableValue(EncodableMap{{EncodableValue(1), EncodableValue("v")}})});
  const EncodableValue other(EncodableList{EncodableValue(EncodableMap{{EncodableValue(1), EncodableValue("w")}})});
  EXPECT_EQ(nested, same);
  EXPECT_NE(nested, other);
}

TEST(EncodableValueEquality, CustomValueEqualsOnlyItself) {
  const EncodableValue value(CustomEncodableValue(std::any(1)));
  const EncodableValue copy = value;  // NOLINT(performance-unnecessary-copy-initialization): the copy is the point
  EXPECT_EQ(value, value);
  EXPECT_NE(value, copy);  // std::any has no value equality: a copy is another object
  EXPECT_TRUE((value < copy) != (copy < value));
}

TEST(EncodableValueAsMapKey, KeysOfMixedTypesStayDistinct) {
  EncodableMap map;
  map[EncodableValue()] = EncodableValue("null");
  map[EncodableValue(true)] = EncodableValue("true");
  map[EncodableValue(int32_t{1})] = EncodableValue("int32");
  map[EncodableValue(int64_t{1})] = EncodableValue("int64");
  map[EncodableValue(1.0)] = EncodableValue("double");
  map[EncodableValue("1")] = EncodableValue("string");
  map[EncodableValue(EncodableList{EncodableValue(1)})] = EncodableValue("list");
  map[EncodableValue(EncodableMap{})] = EncodableValue("map");
  ASSERT_EQ(map.size(), 8u);
  EXPECT_EQ(std::get<std::string>(map.at(EncodableValue(int64_t{1}))), "int64");
  EXPECT_EQ(std::get<std::string>(map.at(EncodableValue(int32_t{1}))), "int32");
  EXPECT_EQ(std::get<std::string>(map.at(EncodableValue(EncodableList{EncodableValue(1)}))), "list");
  EXPECT_EQ(map.find(EncodableValue(int64_t{2})), map.end());
  // Iteration follows the type order.
  std::vector<size_t> indexes;
  for (const auto& [key, value] : map) {
    indexes.push_back(key.index());
  }
  EXPECT_EQ(indexes, (std::vector<size_t>{0, 1, 2, 3, 4, 5, 10, 11}));
}

TEST(EncodableValueAsMapKey, ZeroAndNegativeZeroAreOneKey) {
  EncodableMap map;
  map[EncodableValue(0.0)] = EncodableValue(3);
  map[EncodableValue(-0.0)] = EncodableValue(4);
  ASSERT_EQ(map.size(), 1u);
  EXPECT_EQ(std::get<int32_t>(map.at(EncodableValue(0.0))), 4);
}

}  // namespace
}  // namespace flutter
