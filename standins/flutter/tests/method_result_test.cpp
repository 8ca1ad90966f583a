// MethodCall, the MethodResult entry points and MethodResultFunctions.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "flutter/encodable_value.h"
#include "flutter/method_call.h"
#include "flutter/method_result.h"
#include "flutter/method_result_functions.h"
#include "recording_result.h"

namespace flutter {
namespace {

using flutter_test::Answer;
using flutter_test::RecordingResult;

// Errors take their details by reference only, as in Flutter: code calling Error with a pointer
// would compile here and fail against the real wrapper.
template <typename Details>
concept HasErrorWithDetails = requires {
  static_cast<void (MethodResult<EncodableValue>::*)(const std::string&, const std::string&, Details)>(
      &MethodResult<EncodableValue>::Error);
};
static_assert(HasErrorWithDetails<const EncodableValue&>);
static_assert(!HasErrorWithDetails<const EncodableValue*>);

TEST(MethodCallAccessors, NameAndArguments) {
  const MethodCall<EncodableValue> call(
      "screenInfo",
      std::make_unique<EncodableValue>(EncodableMap{{EncodableValue("sourceId"), EncodableValue("monitor:1")}}));
  EXPECT_EQ(call.method_name(), "screenInfo");
  ASSERT_NE(call.arguments(), nullptr);
  const auto& map = std::get<EncodableMap>(*call.arguments());
  EXPECT_EQ(std::get<std::string>(map.at(EncodableValue("sourceId"))), "monitor:1");
}

TEST(MethodCallAccessors, NoArgumentsIsNull) {
  const MethodCall<> call("revoke", nullptr);
  EXPECT_EQ(call.method_name(), "revoke");
  EXPECT_EQ(call.arguments(), nullptr);
}

TEST(MethodResultEntryPoints, SuccessWithoutValuePassesNull) {
  RecordingResult result;
  result.Success();
  ASSERT_EQ(result.answers.size(), 1u);
  EXPECT_EQ(result.answers[0].kind, Answer::Kind::kSuccess);
  EXPECT_FALSE(result.answers[0].value.has_value());
}

TEST(MethodResultEntryPoints, SuccessWithValuePassesIt) {
  RecordingResult result;
  result.Success(EncodableValue(int64_t{42}));
  ASSERT_EQ(result.answers.size(), 1u);
  EXPECT_EQ(result.answers[0].kind, Answer::Kind::kSuccess);
  EXPECT_EQ(result.answers[0].value, EncodableValue(int64_t{42}));
}

TEST(MethodResultEntryPoints, ErrorWithCodeOnly) {
  RecordingResult result;
  result.Error("NOT_AUTHORIZED");
  ASSERT_EQ(result.answers.size(), 1u);
  EXPECT_EQ(result.answers[0].kind, Answer::Kind::kError);
  EXPECT_EQ(result.answers[0].code, "NOT_AUTHORIZED");
  EXPECT_EQ(result.answers[0].message, "");
  EXPECT_FALSE(result.answers[0].value.has_value());
}

TEST(MethodResultEntryPoints, ErrorWithMessageAndDetails) {
  RecordingResult result;
  result.Error("INVALID_INPUT", "Input is invalid");
  const EncodableValue details(EncodableList{EncodableValue(1)});
  result.Error("E", "by reference", details);
  ASSERT_EQ(result.answers.size(), 2u);
  EXPECT_EQ(result.answers[0].message, "Input is invalid");
  EXPECT_FALSE(result.answers[0].value.has_value());
  EXPECT_EQ(result.answers[1].message, "by reference");
  EXPECT_EQ(result.answers[1].value, details);
}

TEST(MethodResultEntryPoints, NotImplemented) {
  RecordingResult result;
  result.NotImplemented();
  ASSERT_EQ(result.answers.size(), 1u);
  EXPECT_EQ(result.answers[0].kind, Answer::Kind::kNotImplemented);
}

TEST(MethodResultFunctionsDispatch, EachAnswerReachesItsFunction) {
  std::vector<std::string> seen;
  MethodResultFunctions<EncodableValue> result(
      [&seen](const EncodableValue* value) {
        seen.push_back(value == nullptr ? "success:none" : "success:" + std::get<std::string>(*value));
      },
      [&seen](const std::string& code, const std::string& message, const EncodableValue* details) {
        seen.push_back("error:" + code + ":" + message + ":" + (details == nullptr ? "none" : "details"));
      },
      [&seen] { seen.push_back("not implemented"); });
  result.Success();
  result.Success(EncodableValue("v"));
  result.Error("C", "m");
  result.Error("C", "m", EncodableValue(1));
  result.NotImplemented();
  EXPECT_EQ(seen, (std::vector<std::string>{"success:none", "success:v", "error:C:m:none", "error:C:m:details",
                                            "not implemented"}));
}

TEST(MethodResultFunctionsDispatch, EmptyFunctionsIgnoreTheirAnswer) {
  int errors = 0;
  MethodResultFunctions<> result(
      nullptr, [&errors](const std::string&, const std::string&, const EncodableValue*) { ++errors; }, nullptr);
  result.Success(EncodableValue(1));
  result.NotImplemented();
  result.Error("E");
  EXPECT_EQ(errors, 1);
}

}  // namespace
}  // namespace flutter
