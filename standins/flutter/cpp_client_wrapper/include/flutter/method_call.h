#pragma once
// MethodCall: one call of a method channel, a method name and optional arguments. Stand-in for
// Flutter's header of the same name (never shipped).

#include <memory>
#include <string>
#include <utility>

#include "encodable_value.h"

namespace flutter {

// A decoded or to-be-encoded method call; owns its arguments.
template <typename T = EncodableValue>
class MethodCall {
 public:
  // A call of method_name; arguments may be null for a call without arguments.
  MethodCall(const std::string& method_name, std::unique_ptr<T> arguments)
      : method_name_(method_name), arguments_(std::move(arguments)) {}

  virtual ~MethodCall() = default;

  MethodCall(const MethodCall&) = delete;
  MethodCall& operator=(const MethodCall&) = delete;

  // The name of the called method.
  const std::string& method_name() const { return method_name_; }

  // The arguments, or null when the call has none.
  const T* arguments() const { return arguments_.get(); }

 private:
  std::string method_name_;
  std::unique_ptr<T> arguments_;
};

}  // namespace flutter
