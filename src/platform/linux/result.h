#pragma once

#include <string>
#include <utility>
#include <variant>

namespace speechline {

// Why a call inside the Linux backend failed: a description for the user, in the words of the
// library or system call that failed, and that library's error number (PA_ERR_*, errno) where
// a caller acts on it, else 0.
struct Failure {
  std::string description;
  int code = 0;
};

// What every fallible call inside the Linux backend returns: its value, or the Failure that kept
// it from making one. `Result<>` is for calls that make no value: return Done{} on success.
struct Done {};

template <typename T = Done>
class [[nodiscard]] Result {
 public:
  Result(T value) : outcome_(std::move(value)) {}
  Result(Failure failure) : outcome_(std::move(failure)) {}

  explicit operator bool() const { return std::holds_alternative<T>(outcome_); }
  // Only on success.
  T& operator*() { return std::get<T>(outcome_); }
  const T& operator*() const { return std::get<T>(outcome_); }
  T* operator->() { return &std::get<T>(outcome_); }
  // Only on failure.
  const Failure& failure() const { return std::get<Failure>(outcome_); }

 private:
  std::variant<T, Failure> outcome_;
};

}  // namespace speechline
