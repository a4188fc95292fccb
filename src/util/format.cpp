// The formatting engine and the argument kinds.
#include "util/format.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

namespace Kavren {
namespace detail {
namespace {

// A placeholder's specification (without its "N$" parts) holds fewer than this
// many characters; one that would reach it stops formatting.
constexpr std::size_t kSpecificationLimit = 60;
// Every digit of a double's exact decimal expansion lies within this many places,
// so a larger precision only adds zeros and can be capped without changing output.
constexpr std::int64_t kExactPrecision = 1100;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsOneOf(char c, const char* set) { return c != '\0' && std::strchr(set, c) != nullptr; }

// Reads a decimal number, saturating instead of overflowing.
std::uint64_t ReadNumber(const char*& p) {
  std::uint64_t number = 0;
  for (; IsDigit(*p); ++p) {
    number = number > (UINT64_MAX - 9) / 10 ? UINT64_MAX : number * 10 + (*p - '0');
  }
  return number;
}

std::int32_t SaturateToInt32(std::uint64_t number) {
  return number > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(number);
}

// The placeholder as read from the format text.
struct Placeholder {
  char specification[kSpecificationLimit + 4] = {};
  std::size_t length = 0;
  std::uint64_t argument = 0;  // 1-based; 0 until known
  std::uint64_t stars[2] = {};
  int starCount = 0;

  [[nodiscard]] bool Add(char c) {
    if (length + 1 >= kSpecificationLimit) return false;
    specification[length++] = c;
    return true;
  }
};

// A `*` (optionally with "N$") or a run of digits; false when the placeholder text is full.
[[nodiscard]] bool ReadWidthOrPrecision(const char*& p, Placeholder& placeholder,
                                        std::uint64_t& next) {
  if (*p == '*') {
    if (!placeholder.Add('*')) return false;
    ++p;
    const char* q = p;
    if (*q >= '1' && *q <= '9') {
      std::uint64_t number = ReadNumber(q);
      if (*q == '$') {
        placeholder.stars[placeholder.starCount++] = number;
        p = q + 1;
        return true;
      }
    }
    placeholder.stars[placeholder.starCount++] = next++;
    return true;
  }
  if (*p == '-') ++p;
  for (; IsDigit(*p); ++p) {
    if (!placeholder.Add(*p)) return false;
  }
  return true;
}

// Reads one placeholder, `p` just after its '%'; false when formatting must stop.
[[nodiscard]] bool ReadPlaceholder(const char*& p, std::size_t count, std::uint64_t& next,
                                   Placeholder& placeholder) {
  if (!placeholder.Add('%')) return false;
  if (*p >= '1' && *p <= '9') {
    const char* q = p;
    std::uint64_t number = ReadNumber(q);
    if (number <= count) {
      placeholder.argument = number;
      p = q;
      if (*p != '$') return true;  // a plain numbered placeholder such as %1
      ++p;
    } else if (*q == '$') {
      // An explicit "N$" beyond the arguments names a missing argument: stop rather
      // than print another argument under a width of N.
      return false;
    }
    // Otherwise the number is not a position: it is read again as a width.
  }
  for (; IsOneOf(*p, "-+ #0"); ++p) {
    if (!placeholder.Add(*p)) return false;
  }
  if (!ReadWidthOrPrecision(p, placeholder, next)) return false;
  if (*p == '.') {
    if (!placeholder.Add('.')) return false;
    ++p;
    if (!ReadWidthOrPrecision(p, placeholder, next)) return false;
  }
  if (*p == 'h' || *p == 'l') {
    char letter = *p++;
    if (!placeholder.Add(letter)) return false;
    if (*p == letter) {
      if (!placeholder.Add(letter)) return false;
      ++p;
    }
  } else if (IsOneOf(*p, "Ljtz")) {
    if (!placeholder.Add(*p++)) return false;
  }
  if (*p != '\0') {
    if (!placeholder.Add(*p++)) return false;
  }
  if (placeholder.argument == 0) placeholder.argument = next++;
  return true;
}

// Reads the finished specification back into a field; `starValues` are the values
// of its `*`s in order (a `*` the finishing replaced simply goes unused).
FormatField ReadField(const char* specification, const std::int32_t* starValues) {
  FormatField field;
  const char* p = specification + 1;
  for (; IsOneOf(*p, "-+ #0"); ++p) {
    switch (*p) {
      case '-':
        field.leftAlign = true;
        break;
      case '+':
        field.plusSign = true;
        break;
      case ' ':
        field.space = true;
        break;
      case '#':
        field.alternate = true;
        break;
      default:
        field.zeroPad = true;
        break;
    }
  }
  if (*p == '*') {
    std::int64_t width = *starValues++;
    ++p;
    if (width < 0) {
      field.leftAlign = true;
      width = -width;
    }
    field.width = static_cast<std::int32_t>(std::min<std::int64_t>(width, INT32_MAX));
  } else {
    field.width = SaturateToInt32(ReadNumber(p));
  }
  if (*p == '.') {
    ++p;
    if (*p == '*') {
      std::int32_t precision = *starValues++;
      ++p;
      field.precision = precision < 0 ? -1 : precision;  // negative: as if none was given
    } else {
      field.precision = SaturateToInt32(ReadNumber(p));
    }
  }
  for (int i = 0; IsOneOf(*p, "hlLjzt") && i < 2; ++i) field.modifier[i] = *p++;
  field.conversion = *p;
  return field;
}

// Writes into a bounded output, counting what would have been written.
class BoundedWriter {
 public:
  BoundedWriter(char* out, std::size_t room) : out_(out), capacity_(room - 1) {}
  void Put(std::string_view text) {
    std::size_t take = std::min(text.size(), capacity_ - used_);
    if (take == 0) return;
    std::memcpy(out_ + used_, text.data(), take);
    used_ += take;
  }
  void Fill(char c, std::size_t count) {
    std::size_t take = std::min(count, capacity_ - used_);
    std::memset(out_ + used_, c, take);
    used_ += take;
  }
  void Terminate() { out_[used_] = '\0'; }

 private:
  char* out_;
  std::size_t capacity_;
  std::size_t used_ = 0;
};

// Prints text pieces as one "%s" would: precision cuts, width pads with blanks.
// Done here rather than by printf so that texts need no terminator and embedded
// NULs cannot cut them short.
std::size_t PrintPieces(char* out, std::size_t room, const FormatField& field,
                        const std::string_view* pieces, std::size_t pieceCount) {
  std::size_t total = 0;
  for (std::size_t i = 0; i < pieceCount; ++i) total += pieces[i].size();
  if (field.precision >= 0) total = std::min<std::size_t>(total, field.precision);
  std::size_t width = static_cast<std::size_t>(field.width);
  std::size_t padding = width > total ? width - total : 0;
  BoundedWriter writer(out, room);
  if (!field.leftAlign) writer.Fill(' ', padding);
  std::size_t remaining = total;
  for (std::size_t i = 0; i < pieceCount && remaining > 0; ++i) {
    std::string_view piece = pieces[i].substr(0, remaining);
    writer.Put(piece);
    remaining -= piece.size();
  }
  if (field.leftAlign) writer.Fill(' ', padding);
  writer.Terminate();
  return padding + total;
}

std::size_t PrintText(char* out, std::size_t room, const FormatField& field,
                      std::string_view text) {
  return PrintPieces(out, room, field, &text, 1);
}

// Builds the printf format for a number: flags that are defined for the conversion,
// `*` width, `.*` precision when one was given, then `modifier` and the conversion.
void NumberFormat(char* format, const FormatField& field, const char* modifier) {
  char* p = format;
  *p++ = '%';
  if (field.leftAlign) *p++ = '-';
  if (field.plusSign) *p++ = '+';
  if (field.space) *p++ = ' ';
  if (field.alternate && IsOneOf(field.conversion, "oxXaAeEfFgG")) *p++ = '#';
  if (field.zeroPad && IsOneOf(field.conversion, "diouxXaAeEfFgG")) *p++ = '0';
  *p++ = '*';
  if (field.precision >= 0) {
    *p++ = '.';
    *p++ = '*';
  }
  for (; *modifier != '\0'; ++modifier) *p++ = *modifier;
  *p++ = field.conversion;
  *p = '\0';
}

// Prints one number with the standard bounded printf. Width and precision are
// capped where a larger value could not change the visible output, so that a
// huge field neither overflows printf's int result nor costs time.
template <class V>
std::size_t PrintNumber(char* out, std::size_t room, const FormatField& field, const char* modifier,
                        V value) {
  char format[16];
  NumberFormat(format, field, modifier);
  const std::int64_t room64 = static_cast<std::int64_t>(std::min<std::size_t>(room, INT32_MAX / 4));
  const std::int64_t precisionCap = std::max(room64, kExactPrecision);
  const int width =
      static_cast<int>(std::min<std::int64_t>(field.width, room64 + precisionCap + 512));
  int written;
  if (field.precision >= 0) {
    const int precision = static_cast<int>(std::min<std::int64_t>(field.precision, precisionCap));
    written = std::snprintf(out, room, format, width, precision, value);
  } else {
    written = std::snprintf(out, room, format, width, value);
  }
  return written < 0 ? kPrintFailed : static_cast<std::size_t>(written);
}

bool IsShortModifier(const FormatField& field) {
  return field.modifier[0] == 'h';  // "h" or "hh": printf narrows an int itself
}

// Integers of every kind. The value is passed as the type its printf conversion
// reads, whatever length modifier the caller wrote, so a wrong modifier can never
// make printf read the argument as a different type: "c" takes an int, "h"/"hh"
// an int, otherwise 32-bit kinds an int and 64-bit kinds a long long.
template <class Signed>
std::size_t PrintInteger(char* out, std::size_t room, const FormatField& field, Signed value) {
  using Unsigned = std::make_unsigned_t<Signed>;
  constexpr bool kWide = sizeof(Signed) > 4;
  const bool isSigned = field.conversion == 'd' || field.conversion == 'i';
  if (field.conversion == 'c') {
    return PrintNumber(out, room, field, "", static_cast<int>(value));
  }
  if (IsShortModifier(field)) {
    if (isSigned) return PrintNumber(out, room, field, field.modifier, static_cast<int>(value));
    return PrintNumber(out, room, field, field.modifier,
                       static_cast<unsigned>(static_cast<Unsigned>(value)));
  }
  if constexpr (kWide) {
    if (isSigned) return PrintNumber(out, room, field, "ll", static_cast<long long>(value));
    return PrintNumber(out, room, field, "ll",
                       static_cast<unsigned long long>(static_cast<Unsigned>(value)));
  } else {
    if (isSigned) return PrintNumber(out, room, field, "", static_cast<int>(value));
    return PrintNumber(out, room, field, "", static_cast<unsigned>(static_cast<Unsigned>(value)));
  }
}

template <class T>
const T& As(const void* value) {
  return *static_cast<const T*>(value);
}

std::size_t PrintCString(char* out, std::size_t room, const FormatField& field, const void* v) {
  const char* text = As<const char*>(v);
  return PrintText(out, room, field, text == nullptr ? "(null)" : text);
}
std::size_t PrintString(char* out, std::size_t room, const FormatField& field, const void* v) {
  return PrintText(out, room, field, As<std::string>(v));
}
std::size_t PrintStringView(char* out, std::size_t room, const FormatField& field, const void* v) {
  return PrintText(out, room, field, As<std::string_view>(v));
}
std::size_t PrintFailureMessage(char* out, std::size_t room, const FormatField& field,
                                const void* v) {
  return PrintText(out, room, field, As<FailureMessage>(v).View());
}

std::size_t PrintFailure(char* out, std::size_t room, const FormatField& field,
                         const Failure& failure) {
  // "%1 (%2)": the message, then the code in decimal.
  char code[16];
  int digits = std::snprintf(code, sizeof code, "%d", static_cast<int>(failure.code));
  const std::string_view pieces[] = {failure.message.View(), " (",
                                     std::string_view(code, digits > 0 ? digits : 0), ")"};
  return PrintPieces(out, room, field, pieces, 4);
}
std::size_t PrintFailureKind(char* out, std::size_t room, const FormatField& field, const void* v) {
  return PrintFailure(out, room, field, As<Failure>(v));
}
std::size_t PrintOutcome(char* out, std::size_t room, const FormatField& field, const void* v) {
  const auto& outcome = As<MaybeType<Failure, void>>(v);
  if (!outcome.Failed()) return PrintText(out, room, field, "Success");
  return PrintFailure(out, room, field, outcome.GetFailure());
}
std::size_t PrintPluginType(char* out, std::size_t room, const FormatField& field, const void* v) {
  const auto& type = As<PluginType>(v);
  const std::string_view pieces[] = {type.typeName, ":", type.detail};
  return PrintPieces(out, room, field, pieces, 3);
}
std::size_t PrintVersion(char* out, std::size_t room, const FormatField& field, const void* v) {
  const auto& version = As<PluginApiVersion>(v);
  char numbers[33];
  std::size_t length = FormatVersionNumbers(numbers, sizeof numbers, version);
  std::string_view pieces[5] = {std::string_view(numbers, length)};
  std::size_t count = 1;
  if (!version.prerelease.empty()) {
    pieces[count++] = "-";
    pieces[count++] = version.prerelease;
  }
  if (!version.build.empty()) {
    pieces[count++] = "+";
    pieces[count++] = version.build;
  }
  return PrintPieces(out, room, field, pieces, count);
}

std::size_t PrintChar(char* out, std::size_t room, const FormatField& field, const void* v) {
  return PrintInteger<std::int32_t>(out, room, field, As<char>(v));
}
std::size_t PrintInt32(char* out, std::size_t room, const FormatField& field, const void* v) {
  return PrintInteger(out, room, field, As<std::int32_t>(v));
}
std::size_t PrintUInt32(char* out, std::size_t room, const FormatField& field, const void* v) {
  return PrintInteger(out, room, field, static_cast<std::int32_t>(As<std::uint32_t>(v)));
}
std::size_t PrintInt64(char* out, std::size_t room, const FormatField& field, const void* v) {
  return PrintInteger(out, room, field, As<std::int64_t>(v));
}
std::size_t PrintUInt64(char* out, std::size_t room, const FormatField& field, const void* v) {
  return PrintInteger(out, room, field, static_cast<std::int64_t>(As<std::uint64_t>(v)));
}
std::size_t PrintDouble(char* out, std::size_t room, const FormatField& field, const void* v) {
  return PrintNumber(out, room, field, "", As<double>(v));  // no modifier: never "L"
}

std::int32_t CharValue(const void* v) { return As<char>(v); }
std::int32_t Int32Value(const void* v) { return As<std::int32_t>(v); }
std::int32_t UInt32Value(const void* v) { return static_cast<std::int32_t>(As<std::uint32_t>(v)); }
std::int32_t Int64Value(const void* v) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(As<std::int64_t>(v)));
}
std::int32_t UInt64Value(const void* v) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(As<std::uint64_t>(v)));
}

}  // namespace

const FormatKind kTextKind{"s", "", false, nullptr, PrintCString};
const FormatKind kStringKind{"s", "", false, nullptr, PrintString};
const FormatKind kStringViewKind{"s", "", false, nullptr, PrintStringView};
const FormatKind kFailureMessageKind{"s", "", false, nullptr, PrintFailureMessage};
const FormatKind kCharKind{"cdiouxX", "", true, CharValue, PrintChar};
const FormatKind kInt32Kind{"dciouxX", "", true, Int32Value, PrintInt32};
const FormatKind kUInt32Kind{"ucdioxX", "", true, UInt32Value, PrintUInt32};
const FormatKind kInt64Kind{"dciouxX", "ll", true, Int64Value, PrintInt64};
const FormatKind kUInt64Kind{"ucdioxX", "ll", true, UInt64Value, PrintUInt64};
const FormatKind kDoubleKind{"gaefGAEF", "", false, nullptr, PrintDouble};
const FormatKind kOutcomeKind{"s", "", false, nullptr, PrintOutcome};
const FormatKind kFailureKind{"s", "", false, nullptr, PrintFailureKind};
const FormatKind kPluginTypeKind{"s", "", false, nullptr, PrintPluginType};
const FormatKind kVersionKind{"s", "", false, nullptr, PrintVersion};

std::string FormatWithTable(const char* format, const FormatKind* const* kinds,
                            const void* const* values, std::size_t count) {
  char buffer[4096];
  const std::size_t length = FormatToBuffer(buffer, sizeof buffer, format, kinds, values, count);
  return std::string(buffer, length);
}

std::size_t FormatVersionNumbers(char* out, std::size_t length, const PluginApiVersion& version) {
  return FormatInto(out, length, "%1.%2.%3", version.major, version.minor, version.patch);
}

}  // namespace detail

std::size_t FormatToBuffer(char* out, std::size_t length, const char* format,
                           const detail::FormatKind* const* kinds, const void* const* values,
                           std::size_t count) noexcept {
  using detail::FormatKind;
  if (out == nullptr || length == 0) return 0;
  std::size_t written = 0;
  std::uint64_t next = 1;  // the sequential-argument counter
  const char* p = format == nullptr ? "" : format;
  while (*p != '\0' && written + 1 < length) {
    if (*p != '%') {
      out[written++] = *p++;
      continue;
    }
    if (p[1] == '%') {
      out[written++] = '%';
      p += 2;
      continue;
    }
    ++p;
    detail::Placeholder placeholder;
    if (!detail::ReadPlaceholder(p, count, next, placeholder)) break;
    if (placeholder.argument > count) break;
    std::int32_t starValues[2] = {};
    bool starsUsable = true;
    for (int i = 0; i < placeholder.starCount; ++i) {
      std::uint64_t star = placeholder.stars[i];
      if (star == 0 || star > count || !kinds[star - 1]->integer) {
        starsUsable = false;
        break;
      }
      starValues[i] = kinds[star - 1]->integerValue(values[star - 1]);
    }
    if (!starsUsable) break;

    const FormatKind& kind = *kinds[placeholder.argument - 1];
    char* specification = placeholder.specification;
    std::size_t& specificationLength = placeholder.length;
    if (specificationLength == 1) {
      for (const char* m = kind.defaultModifier; *m != '\0'; ++m) {
        specification[specificationLength++] = *m;
      }
      specification[specificationLength++] = kind.conversions[0];
    } else {
      char& last = specification[specificationLength - 1];
      // "n" would store through the argument: it prints nothing and stores nothing.
      if (last == 'n') continue;
      if (!detail::IsOneOf(last, kind.conversions)) last = kind.conversions[0];
    }
    specification[specificationLength] = '\0';

    const detail::FormatField field = detail::ReadField(specification, starValues);
    const std::size_t room = length - written;
    const std::size_t printed =
        kind.print(out + written, room, field, values[placeholder.argument - 1]);
    if (printed == detail::kPrintFailed) break;
    if (printed >= room) {
      written += room - 1;  // cut: the output is full
      break;
    }
    written += printed;
  }
  out[written] = '\0';
  return written;
}

}  // namespace Kavren
