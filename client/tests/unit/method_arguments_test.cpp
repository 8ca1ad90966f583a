#include "services/method_arguments.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace corvane::client {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

EncodableValue map_of(EncodableMap entries) { return EncodableValue(std::move(entries)); }

TEST(MethodArguments, OnlyAMapCarriesArguments) {
  const EncodableValue list(EncodableList{EncodableValue("sessionId"), EncodableValue("s1")});
  const EncodableValue text("sessionId");
  const EncodableValue null_value;
  for (const EncodableValue* arguments : {static_cast<const EncodableValue*>(nullptr), &list, &text, &null_value}) {
    const MethodArguments read(arguments);
    EXPECT_FALSE(read.Present());
    EXPECT_EQ(read.String("sessionId"), "");
    EXPECT_FALSE(read.Bool("sessionId"));
    EXPECT_FALSE(read.BoundedInteger("sessionId", 0, 10).has_value());
    EXPECT_EQ(read.Number("sessionId", 7.5), 7.5);
  }
  const EncodableValue map = map_of({{EncodableValue("sessionId"), EncodableValue("s1")}});
  EXPECT_TRUE(MethodArguments(&map).Present());
  EXPECT_EQ(MethodArguments(&map).String("sessionId"), "s1");
}

TEST(MethodArguments, StringReadsOnlyStrings) {
  const EncodableValue map = map_of({{EncodableValue("a"), EncodableValue("text")},
                                     {EncodableValue("n"), EncodableValue(5)},
                                     {EncodableValue("b"), EncodableValue(true)},
                                     {EncodableValue("empty"), EncodableValue("")}});
  const MethodArguments read(&map);
  EXPECT_EQ(read.String("a"), "text");
  EXPECT_EQ(read.String("n"), "");
  EXPECT_EQ(read.String("b"), "");
  EXPECT_EQ(read.String("empty"), "");
  EXPECT_EQ(read.String("missing"), "");
  EXPECT_EQ(read.String("A"), "") << "keys match exactly";
}

TEST(MethodArguments, KeysThatAreNotStringsAreNotFound) {
  const EncodableValue map = map_of({{EncodableValue(1), EncodableValue("one")}});
  EXPECT_EQ(MethodArguments(&map).String("1"), "");
}

TEST(MethodArguments, BoolIsTrueOnlyForTheBoolTrue) {
  const EncodableValue map = map_of({{EncodableValue("yes"), EncodableValue(true)},
                                     {EncodableValue("no"), EncodableValue(false)},
                                     {EncodableValue("one"), EncodableValue(1)},
                                     {EncodableValue("word"), EncodableValue("true")}});
  const MethodArguments read(&map);
  EXPECT_TRUE(read.Bool("yes"));
  EXPECT_FALSE(read.Bool("no"));
  EXPECT_FALSE(read.Bool("one"));
  EXPECT_FALSE(read.Bool("word"));
  EXPECT_FALSE(read.Bool("missing"));
}

TEST(MethodArguments, BoundedIntegerTakesBothWidthsWithinInclusiveBounds) {
  const EncodableValue map = map_of({{EncodableValue("low"), EncodableValue(std::int32_t{-5})},
                                     {EncodableValue("high"), EncodableValue(std::int64_t{5})},
                                     {EncodableValue("big"), EncodableValue(std::int64_t{1} << 40)},
                                     {EncodableValue("real"), EncodableValue(3.0)},
                                     {EncodableValue("text"), EncodableValue("3")}});
  const MethodArguments read(&map);
  EXPECT_EQ(read.BoundedInteger("low", -5, 5), -5);
  EXPECT_EQ(read.BoundedInteger("high", -5, 5), 5);
  EXPECT_FALSE(read.BoundedInteger("low", -4, 5).has_value());
  EXPECT_FALSE(read.BoundedInteger("high", -5, 4).has_value());
  EXPECT_EQ(read.BoundedInteger("big", 0, std::numeric_limits<std::int64_t>::max()), std::int64_t{1} << 40);
  EXPECT_FALSE(read.BoundedInteger("big", 0, 65535).has_value());
  EXPECT_FALSE(read.BoundedInteger("real", 0, 10).has_value()) << "a double is not an integer";
  EXPECT_FALSE(read.BoundedInteger("text", 0, 10).has_value());
  EXPECT_FALSE(read.BoundedInteger("missing", 0, 10).has_value());
}

TEST(MethodArguments, NumberTakesIntegersAndFiniteDoublesElseTheDefault) {
  const EncodableValue map = map_of({{EncodableValue("i32"), EncodableValue(std::int32_t{-3})},
                                     {EncodableValue("i64"), EncodableValue(std::int64_t{1} << 53)},
                                     {EncodableValue("real"), EncodableValue(0.25)},
                                     {EncodableValue("nan"), EncodableValue(std::nan(""))},
                                     {EncodableValue("inf"), EncodableValue(std::numeric_limits<double>::infinity())},
                                     {EncodableValue("text"), EncodableValue("1.5")},
                                     {EncodableValue("flag"), EncodableValue(true)}});
  const MethodArguments read(&map);
  EXPECT_EQ(read.Number("i32", 9), -3.0);
  EXPECT_EQ(read.Number("i64", 9), 9007199254740992.0);
  EXPECT_EQ(read.Number("real", 9), 0.25);
  EXPECT_EQ(read.Number("nan", 9), 9.0);
  EXPECT_EQ(read.Number("inf", 9), 9.0);
  EXPECT_EQ(read.Number("text", 9), 9.0);
  EXPECT_EQ(read.Number("flag", 9), 9.0);
  EXPECT_EQ(read.Number("missing", -1), -1.0);
}

}  // namespace
}  // namespace corvane::client
