// Outcomes of the development host's operations that can fail: a failure, or success (or
// a value). The host keeps its own small copy of the plugin's outcome type, as it knows
// the plugin only through the boundary records.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace Kavren::Host {

/// Why a host operation failed: a message for the person running the host, and a code
/// (the HTTP status where one applies, else 0).
struct Failure {
  std::string message;
  std::int32_t code = 0;
};

/// Either a failure of type E or a value of type T.
template <class E, class T = void>
class [[nodiscard]] MaybeType {
 public:
  MaybeType(T value) : state_(std::in_place_index<1>, std::move(value)) {}      // NOLINT
  MaybeType(E failure) : state_(std::in_place_index<0>, std::move(failure)) {}  // NOLINT

  bool Failed() const { return state_.index() == 0; }
  bool Succeeded() const { return !Failed(); }
  explicit operator bool() const { return Succeeded(); }

  /// The failure; only valid when Failed().
  const E& GetFailure() const { return std::get<0>(state_); }
  /// The value; only valid when Succeeded().
  const T& Value() const& { return std::get<1>(state_); }
  T& Value() & { return std::get<1>(state_); }
  T&& Value() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<E, T> state_;
};

/// Success, or a failure (the default failure, with no message, on success).
template <class E>
class [[nodiscard]] MaybeType<E, void> {
 public:
  /// Success.
  MaybeType() = default;
  MaybeType(E failure) : failure_(std::move(failure)), failed_(true) {}  // NOLINT

  bool Failed() const { return failed_; }
  bool Succeeded() const { return !failed_; }
  explicit operator bool() const { return !failed_; }

  const E& GetFailure() const { return failure_; }

 private:
  E failure_{};
  bool failed_ = false;
};

}  // namespace Kavren::Host
