#pragma once
// Errors as values: an operation yields either its value or the reason it failed.

#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace corvane {

// Wraps the error of a failed operation so that it cannot be mistaken for a value.
template <class E>
struct Failure {
  E error;
};

// Builds a failure; `return fail("invalid pipe UUID");`.
template <class E>
Failure<std::decay_t<E>> fail(E&& error) {
  return Failure<std::decay_t<E>>{std::forward<E>(error)};
}

inline Failure<std::string> fail(const char* error) { return Failure<std::string>{std::string(error)}; }

// The value of a successful operation, or the error of a failed one.
template <class T, class E>
class [[nodiscard]] Expected {
 public:
  // Implicit on purpose, as with std::expected: `return value;` and `return fail(...);`.
  // cppcheck-suppress noExplicitConstructor
  Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT(google-explicit-constructor)
  template <class F>
  // cppcheck-suppress noExplicitConstructor
  Expected(Failure<F> failure)  // NOLINT(google-explicit-constructor)
      : state_(std::in_place_index<1>, E(std::move(failure.error))) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  const E& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, E> state_;
};

// Success without a value.
struct Done {};

// The helper's common result: a value or one line of English text.
template <class T>
using Result = Expected<T, std::string>;

// Result of an operation that yields nothing but may fail with a text.
using Status = Result<Done>;

}  // namespace corvane
