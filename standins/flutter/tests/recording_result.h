#pragma once
// Test helper: a MethodResult that records every answer it receives, in order.

#include <optional>
#include <string>
#include <vector>

#include "flutter/encodable_value.h"
#include "flutter/method_result.h"

namespace flutter_test {

// One received answer; value is the success value or the error details (absent when null was passed).
struct Answer {
  enum class Kind { kSuccess, kError, kNotImplemented };
  Kind kind = Kind::kSuccess;
  std::string code;
  std::string message;
  std::optional<flutter::EncodableValue> value;
};

class RecordingResult : public flutter::MethodResult<flutter::EncodableValue> {
 public:
  std::vector<Answer> answers;

 protected:
  void SuccessInternal(const flutter::EncodableValue* result) override {
    answers.push_back(Answer{Answer::Kind::kSuccess, "", "", Copy(result)});
  }
  void ErrorInternal(const std::string& error_code, const std::string& error_message,
                     const flutter::EncodableValue* error_details) override {
    answers.push_back(Answer{Answer::Kind::kError, error_code, error_message, Copy(error_details)});
  }
  void NotImplementedInternal() override { answers.push_back(Answer{Answer::Kind::kNotImplemented, "", "", {}}); }

 private:
  static std::optional<flutter::EncodableValue> Copy(const flutter::EncodableValue* value) {
    if (value == nullptr) {
      return std::nullopt;
    }
    return *value;
  }
};

}  // namespace flutter_test
