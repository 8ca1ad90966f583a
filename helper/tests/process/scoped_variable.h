#pragma once
// Test helper: an environment variable of this process, set for one scope.

#include <windows.h>

#include <optional>
#include <string>
#include <utility>

namespace corvane::testing {

// Sets (or, with nothing, removes) an environment variable of this process until the end of the scope;
// the children started meanwhile inherit it.
class ScopedVariable {
 public:
  ScopedVariable(std::wstring name, const std::optional<std::wstring>& value) : name_(std::move(name)) {
    std::wstring buffer(32768, L'\0');
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetEnvironmentVariableW(name_.c_str(), buffer.data(), 32768);
    if (length != 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND) {
      old_ = buffer.substr(0, length < 32768 ? length : 0);
    }
    SetEnvironmentVariableW(name_.c_str(), value ? value->c_str() : nullptr);
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;
  ~ScopedVariable() { SetEnvironmentVariableW(name_.c_str(), old_ ? old_->c_str() : nullptr); }

 private:
  std::wstring name_;
  std::optional<std::wstring> old_;
};

}  // namespace corvane::testing
