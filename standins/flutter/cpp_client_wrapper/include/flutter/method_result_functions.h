#pragma once
// MethodResultFunctions: a MethodResult that hands each kind of answer to a function. Stand-in for
// Flutter's header of the same name (never shipped).

#include <functional>
#include <string>
#include <utility>

#include "method_result.h"

namespace flutter {

// Receives a success; result is null for success without a value.
template <typename T>
using ResultHandlerSuccess = std::function<void(const T* result)>;

// Receives an error; error_details is null when the error has no details.
template <typename T>
using ResultHandlerError =
    std::function<void(const std::string& error_code, const std::string& error_message, const T* error_details)>;

// Receives "not implemented".
template <typename T>
using ResultHandlerNotImplemented = std::function<void()>;

// A method result built from three functions; an empty function ignores its kind of answer.
template <typename T = EncodableValue>
class MethodResultFunctions : public MethodResult<T> {
 public:
  MethodResultFunctions(ResultHandlerSuccess<T> on_success, ResultHandlerError<T> on_error,
                        ResultHandlerNotImplemented<T> on_not_implemented)
      : on_success_(std::move(on_success)),
        on_error_(std::move(on_error)),
        on_not_implemented_(std::move(on_not_implemented)) {}

  ~MethodResultFunctions() override = default;

  MethodResultFunctions(const MethodResultFunctions&) = delete;
  MethodResultFunctions& operator=(const MethodResultFunctions&) = delete;

 protected:
  void SuccessInternal(const T* result) override {
    if (on_success_) {
      on_success_(result);
    }
  }

  void ErrorInternal(const std::string& error_code, const std::string& error_message, const T* error_details) override {
    if (on_error_) {
      on_error_(error_code, error_message, error_details);
    }
  }

  void NotImplementedInternal() override {
    if (on_not_implemented_) {
      on_not_implemented_();
    }
  }

 private:
  ResultHandlerSuccess<T> on_success_;
  ResultHandlerError<T> on_error_;
  ResultHandlerNotImplemented<T> on_not_implemented_;
};

}  // namespace flutter
