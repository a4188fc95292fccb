// The numbered-placeholder formatter: "%1", "%2$x", "%-*s", ... with type-safe arguments.
//
// Each argument kind fixes its allowed conversion letters (the first is the
// default), the length modifier a bare placeholder gets, and whether it may serve
// as a `*` width or precision. The kinds of a call are chosen at compile time, so
// a call with N arguments carries an N-entry table and N references.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>

#include "util/failure.h"
#include "util/version.h"

namespace Kavren {
namespace detail {

/// A placeholder after its argument kind has finished it: flags, resolved width and
/// precision, the length modifier as written and the conversion letter.
struct FormatField {
  bool leftAlign = false;
  bool plusSign = false;
  bool space = false;
  bool alternate = false;
  bool zeroPad = false;
  std::int32_t width = 0;       // never negative
  std::int32_t precision = -1;  // -1: none given
  char modifier[3] = {};
  char conversion = 0;
};

/// Returned by a kind's print operation when nothing could be printed.
inline constexpr std::size_t kPrintFailed = static_cast<std::size_t>(-1);

/// What one argument kind contributes to a call.
struct FormatKind {
  /// Allowed conversion letters; the first is the default.
  const char* conversions;
  /// Inserted before the default conversion of a bare placeholder.
  const char* defaultModifier;
  /// True when a value of this kind may serve as a `*` width or precision.
  bool integer;
  /// The value as a 32-bit signed integer (low 32 bits); null unless `integer`.
  std::int32_t (*integerValue)(const void* value);
  /// Prints `value` into `out` (`room` >= 2 bytes including the terminator),
  /// cutting and always terminating; returns the length the whole output would
  /// have, or kPrintFailed.
  std::size_t (*print)(char* out, std::size_t room, const FormatField& field, const void* value);
};

extern const FormatKind kTextKind;        // const char*
extern const FormatKind kStringKind;      // std::string
extern const FormatKind kStringViewKind;  // std::string_view
extern const FormatKind kFailureMessageKind;
extern const FormatKind kCharKind;  // char
extern const FormatKind kInt32Kind;
extern const FormatKind kUInt32Kind;
extern const FormatKind kInt64Kind;
extern const FormatKind kUInt64Kind;
extern const FormatKind kDoubleKind;
extern const FormatKind kOutcomeKind;  // MaybeType<Failure, void>
extern const FormatKind kFailureKind;  // printed like a failed outcome
extern const FormatKind kPluginTypeKind;
extern const FormatKind kVersionKind;

template <class T>
inline constexpr bool kUnsupportedFormatArgument = false;

/// Maps an argument to the type its kind stores: other integer widths to the 32- or
/// 64-bit kinds, float to double, character arrays to text. Types that already are
/// a kind's type are passed by reference.
template <class T>
decltype(auto) FormatArgument(const T& value) {
  using U = std::remove_cv_t<T>;
  if constexpr (std::is_array_v<U>) {
    static_assert(std::is_same_v<std::remove_cv_t<std::remove_extent_t<U>>, char>,
                  "Format: only character arrays can be printed");
    return static_cast<const char*>(value);
  } else if constexpr (std::is_same_v<U, char*>) {
    return static_cast<const char*>(value);
    // Each kind of type has a branch of its own, even where two return alike.
    // NOLINTNEXTLINE(bugprone-branch-clone)
  } else if constexpr (std::is_same_v<U, char> || std::is_same_v<U, const char*>) {
    return value;
  } else if constexpr (std::is_same_v<U, bool>) {
    return static_cast<std::int32_t>(value);
  } else if constexpr (std::is_same_v<U, wchar_t> || std::is_same_v<U, char8_t> ||
                       std::is_same_v<U, char16_t> || std::is_same_v<U, char32_t>) {
    static_assert(kUnsupportedFormatArgument<U>, "Format: wide characters cannot be printed");
  } else if constexpr (std::is_enum_v<U>) {
    using Underlying = std::underlying_type_t<U>;
    if constexpr (std::is_signed_v<Underlying>) {
      return static_cast<std::int64_t>(value);
    } else {
      return static_cast<std::uint64_t>(value);
    }
  } else if constexpr (std::is_integral_v<U>) {
    // signed char and unsigned char are small numbers here, not characters.
    if constexpr (std::is_signed_v<U>) {
      if constexpr (sizeof(U) <= 4) {
        return static_cast<std::int32_t>(value);
      } else {
        return static_cast<std::int64_t>(value);
      }
    } else {
      if constexpr (sizeof(U) <= 4) {
        return static_cast<std::uint32_t>(value);
      } else {
        return static_cast<std::uint64_t>(value);
      }
    }
  } else if constexpr (std::is_floating_point_v<U>) {
    return static_cast<double>(value);
  } else {
    return value;
  }
}

template <class T>
constexpr const FormatKind* KindOf() {
  if constexpr (std::is_same_v<T, const char*>) {
    return &kTextKind;
  } else if constexpr (std::is_same_v<T, std::string>) {
    return &kStringKind;
  } else if constexpr (std::is_same_v<T, std::string_view>) {
    return &kStringViewKind;
  } else if constexpr (std::is_same_v<T, FailureMessage>) {
    return &kFailureMessageKind;
  } else if constexpr (std::is_same_v<T, char>) {
    return &kCharKind;
  } else if constexpr (std::is_same_v<T, std::int32_t>) {
    return &kInt32Kind;
  } else if constexpr (std::is_same_v<T, std::uint32_t>) {
    return &kUInt32Kind;
  } else if constexpr (std::is_same_v<T, std::int64_t>) {
    return &kInt64Kind;
  } else if constexpr (std::is_same_v<T, std::uint64_t>) {
    return &kUInt64Kind;
  } else if constexpr (std::is_same_v<T, double>) {
    return &kDoubleKind;
  } else if constexpr (std::is_same_v<T, MaybeType<Failure, void>>) {
    return &kOutcomeKind;
  } else if constexpr (std::is_same_v<T, Failure>) {
    return &kFailureKind;
  } else if constexpr (std::is_same_v<T, PluginType>) {
    return &kPluginTypeKind;
  } else if constexpr (std::is_same_v<T, PluginApiVersion>) {
    return &kVersionKind;
  } else {
    static_assert(kUnsupportedFormatArgument<T>, "Format: this argument type has no kind");
    return nullptr;
  }
}

/// Formats into a 4096-character working buffer and returns the (at most 4095
/// characters long) result. Throws std::bad_alloc when the result cannot be allocated.
std::string FormatWithTable(const char* format, const FormatKind* const* kinds,
                            const void* const* values, std::size_t count);

template <class... Values>
std::string FormatValues(const char* format, const Values&... values) {
  static constexpr const FormatKind* kKinds[] = {KindOf<Values>()...};
  const void* const references[] = {static_cast<const void*>(&values)...};
  return FormatWithTable(format, kKinds, references, sizeof...(Values));
}

/// "major.minor.patch" into `out`; returns the characters written.
std::size_t FormatVersionNumbers(char* out, std::size_t length, const PluginApiVersion& version);

}  // namespace detail

/// Writes `format` with its placeholders filled from `values` (described by `kinds`,
/// `count` of each) into `out`. The output is always NUL-terminated (when `length`
/// is not 0) and at most `length` - 1 characters; formatting stops early, keeping
/// what it wrote, at a placeholder that would reach 60 characters, at an argument
/// number greater than `count`, and at a `*` that names a missing or non-integer
/// argument. Returns the number of characters written. Never throws.
std::size_t FormatToBuffer(char* out, std::size_t length, const char* format,
                           const detail::FormatKind* const* kinds, const void* const* values,
                           std::size_t count) noexcept;

/// `format` with "%1", "%2", ... and printf-style placeholders filled from `args`;
/// at most 4095 characters, longer output is cut. Throws std::bad_alloc when the
/// result cannot be allocated (texts of up to 15 characters never allocate): a text
/// that cannot be built is never answered as an empty one.
template <class... Args>
std::string Format(const char* format, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    return detail::FormatWithTable(format, nullptr, nullptr, 0);
  } else {
    return detail::FormatValues(format, detail::FormatArgument(args)...);
  }
}

namespace FormatterMessages {
// The failure of a text that could not be allocated.
inline constexpr char kNoMemory[] = "Out of memory: the text could not be formatted";
}  // namespace FormatterMessages

/// Like Format, with the refusal as a failure the caller sees instead of an exception:
/// code 500 and FormatterMessages::kNoMemory, a constant that needs no allocation.
/// Never throws. For texts with a fallback of their own (a job label, a log line).
template <class... Args>
MaybeType<Failure, std::string> TryFormat(const char* format, const Args&... args) noexcept {
  try {
    return Format(format, args...);
  } catch (const std::bad_alloc&) {
    return Failure{500, FailureMessage::Constant(FormatterMessages::kNoMemory)};
  }
}

/// Like Format, but into a caller's buffer (see FormatToBuffer); returns the
/// number of characters written.
template <class... Args>
std::size_t FormatInto(char* out, std::size_t length, const char* format, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    return FormatToBuffer(out, length, format, nullptr, nullptr, 0);
  } else {
    return [&](const auto&... values) {
      static constexpr const detail::FormatKind* kKinds[] = {
          detail::KindOf<std::remove_cvref_t<decltype(values)>>()...};
      const void* const references[] = {static_cast<const void*>(&values)...};
      return FormatToBuffer(out, length, format, kKinds, references, sizeof...(Args));
    }(detail::FormatArgument(args)...);
  }
}

}  // namespace Kavren
