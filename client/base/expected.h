#pragma once
// The host's one shape for an operation that can fail in an expected way: its value, or the error
// code of its subsystem (BusResult, InstallError). Throwing is kept for what the method handler's
// catch-all answers. Portable.

#include <type_traits>
#include <utility>
#include <variant>

namespace corvane::client {

// The error of a failed operation, wrapped so that it cannot be mistaken for a value.
template <class E>
struct Failure {
  E error;
};

// Builds a failure: `return Fail(InstallError::kMissing);`.
template <class E>
Failure<std::decay_t<E>> Fail(E&& error) {
  return Failure<std::decay_t<E>>{std::forward<E>(error)};
}

// The value of an operation that yields nothing but can fail.
struct Done {};

// The value of a successful operation, or the error of a failed one.
template <class T, class E>
class [[nodiscard]] Expected {
 public:
  // Implicit on purpose, as std::expected's: `return value;` and `return Fail(...);`.
  // cppcheck-suppress noExplicitConstructor
  Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT(google-explicit-constructor)
  // cppcheck-suppress noExplicitConstructor
  Expected(Failure<E> failure)  // NOLINT(google-explicit-constructor)
      : state_(std::in_place_index<1>, std::move(failure.error)) {}

  bool HasValue() const { return state_.index() == 0; }
  explicit operator bool() const { return HasValue(); }

  T& Value() & { return std::get<0>(state_); }
  const T& Value() const& { return std::get<0>(state_); }
  T&& Value() && { return std::get<0>(std::move(state_)); }
  T* operator->() { return &Value(); }
  const T* operator->() const { return &Value(); }
  T& operator*() & { return Value(); }
  const T& operator*() const& { return Value(); }

  // The error; only for a failed operation.
  const E& Error() const { return std::get<1>(state_); }

 private:
  std::variant<T, E> state_;
};

}  // namespace corvane::client
