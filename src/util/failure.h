// Outcomes of operations that can fail: a Failure, or success (or a value).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace Kavren {

/// The message of a failure: either an owned copy of a text, or a pointer to a
/// constant text that outlives every copy of the message (a string literal).
/// An absent message (a null constant) reads as the empty text.
class FailureMessage {
 public:
  FailureMessage() = default;
  /// Owned copies; a null `text` gives an absent message.
  FailureMessage(const char* text);       // NOLINT(google-explicit-constructor)
  FailureMessage(std::string text);       // NOLINT(google-explicit-constructor)
  FailureMessage(std::string_view text);  // NOLINT(google-explicit-constructor)

  /// Refers to `text` without copying it; `text` must live as long as the program.
  static FailureMessage Constant(const char* text);

  /// True when the message holds its own copy.
  bool IsOwned() const { return owned_; }
  /// True when there is no text at all (not even an empty one).
  bool IsAbsent() const { return !owned_ && constant_ == nullptr; }

  /// The characters; empty when absent. Valid while this message is unchanged.
  std::string_view View() const;
  /// NUL-terminated characters, never null.
  const char* CStr() const;
  std::string Str() const { return std::string(View()); }

  friend bool operator==(const FailureMessage& left, std::string_view right) {
    return left.View() == right;
  }
  friend bool operator==(const FailureMessage& left, const char* right) {
    return left.View() == std::string_view(right == nullptr ? "" : right);
  }
  friend bool operator==(const FailureMessage& left, const std::string& right) {
    return left.View() == right;
  }
  friend bool operator==(const FailureMessage& left, const FailureMessage& right) {
    return left.View() == right.View();
  }

 private:
  const char* constant_ = nullptr;
  std::string text_;
  bool owned_ = false;
};

/// Why an operation failed: a code (an HTTP status, 400 for a request that could not
/// be built, or 0) and a message.
class Failure {
 public:
  std::int32_t code = 0;
  FailureMessage message;
};

/// Either a failure of type E or a value of type T. Marked [[nodiscard]]: a caller
/// that means to ignore an outcome says so with IgnoreOutcome().
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

/// Success, or a failure: a failure and a 1-byte `failed` flag. When `failed` is
/// false the operation succeeded and the failure is the default one (code 0).
template <class E>
class [[nodiscard]] MaybeType<E, void> {
 public:
  /// Success.
  MaybeType() = default;
  MaybeType(E failure) : failure_(std::move(failure)), failed_(true) {}  // NOLINT

  static MaybeType Success() { return MaybeType(); }

  bool Failed() const { return failed_; }
  bool Succeeded() const { return !failed_; }
  explicit operator bool() const { return !failed_; }

  /// The failure; the default failure (code 0, absent message) on success.
  const E& GetFailure() const { return failure_; }

 private:
  E failure_{};
  bool failed_ = false;
};

/// The usual outcome of a framework operation.
using Outcome = MaybeType<Failure, void>;

/// Says that an outcome is dropped on purpose.
template <class E, class T>
void IgnoreOutcome(MaybeType<E, T>&& outcome) {
  (void)outcome;
}
template <class E, class T>
void IgnoreOutcome(const MaybeType<E, T>& outcome) {
  (void)outcome;
}

/// "Success" when `outcome` holds no failure, otherwise "message (code)".
std::string OutcomeText(const MaybeType<Failure, void>& outcome);

}  // namespace Kavren
