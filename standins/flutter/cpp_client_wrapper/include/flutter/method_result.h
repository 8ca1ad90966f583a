#pragma once
// MethodResult: the one answer to a method call (success, error or not implemented). Stand-in for
// Flutter's header of the same name (never shipped).

#include <string>

#include "encodable_value.h"

namespace flutter {

// The receiver of a method call's answer. A caller answers each call exactly once through one of
// the public functions; implementations receive it in the matching protected function.
template <typename T = EncodableValue>
class MethodResult {
 public:
  MethodResult() = default;
  virtual ~MethodResult() = default;

  MethodResult(const MethodResult&) = delete;
  MethodResult& operator=(const MethodResult&) = delete;

  // Success without a value.
  void Success() { SuccessInternal(nullptr); }

  // Success with a value.
  void Success(const T& result) { SuccessInternal(&result); }

  // Failure with details.
  void Error(const std::string& error_code, const std::string& error_message, const T& error_details) {
    ErrorInternal(error_code, error_message, &error_details);
  }

  // Failure without details.
  void Error(const std::string& error_code, const std::string& error_message = "") {
    ErrorInternal(error_code, error_message, nullptr);
  }

  // The method is not known to the receiver.
  void NotImplemented() { NotImplementedInternal(); }

 protected:
  // result is null for success without a value.
  virtual void SuccessInternal(const T* result) = 0;
  // error_details is null when the error has no details.
  virtual void ErrorInternal(const std::string& error_code, const std::string& error_message,
                             const T* error_details) = 0;
  virtual void NotImplementedInternal() = 0;
};

}  // namespace flutter
