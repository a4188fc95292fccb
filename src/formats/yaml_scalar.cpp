// Typing of YAML scalars in value position: tags, quoting, null forms, numbers, booleans.
#include "formats/yaml_scalar.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "binding/converters.h"
#include "formats/messages.h"
#include "util/format.h"

namespace Kavren::detail {
namespace {

constexpr char kYamlName[] = "yaml";
constexpr std::string_view kTagString = "tag:yaml.org,2002:str";
constexpr std::string_view kTagInt = "tag:yaml.org,2002:int";
constexpr std::string_view kTagFloat = "tag:yaml.org,2002:float";
constexpr std::string_view kTagBool = "tag:yaml.org,2002:bool";

// 2^64 and -2^63 as doubles: whole numbers from 2^64 up (or below -2^63) have no
// integer form and stay floats.
constexpr double kTwoTo64 = 18446744073709551616.0;
constexpr double kMinusTwoTo63 = -9223372036854775808.0;

// The null forms, compared byte by byte.
bool IsNullForm(std::string_view text) {
  switch (text.size()) {
    case 0:
      return true;
    case 1:
      return text[0] == '~';
    case 4:
      return text == "null" || text == "Null" || text == "NULL";
    default:
      return false;
  }
}

// Sets a boolean form; false when the text is none. The forms are compared byte by
// byte; the length picks the few candidates.
bool SetBoolForm(BindingProperty& target, std::string_view text) {
  bool value = false;
  switch (text.size()) {
    case 1:
      if (text[0] == 'y' || text[0] == 'Y') {
        value = true;
      } else if (text[0] != 'n' && text[0] != 'N') {
        return false;
      }
      break;
    case 2:
      if (text == "on" || text == "On" || text == "ON") {
        value = true;
      } else if (text != "no" && text != "No" && text != "NO") {
        return false;
      }
      break;
    case 3:
      if (text == "yes" || text == "Yes" || text == "YES") {
        value = true;
      } else if (text != "off" && text != "Off" && text != "OFF") {
        return false;
      }
      break;
    case 4:
      if (text != "true" && text != "True" && text != "TRUE") return false;
      value = true;
      break;
    case 5:
      if (text != "false" && text != "False" && text != "FALSE") return false;
      break;
    default:
      return false;
  }
  target.SetBool(value);
  return true;
}

// Decimal integers of at most this many digits are below 2^53, so strtod would give
// them exactly; they are converted without it.
constexpr std::size_t kExactDecimalDigits = 15;

// A plain decimal integer ("-"? digits, at most kExactDecimalDigits of them) typed as
// the strtod route below would type it; false for any other text.
bool SetPlainDecimal(BindingProperty& target, std::string_view text) {
  const bool negative = text[0] == '-';
  const std::size_t first = negative ? 1 : 0;
  const std::size_t digits = text.size() - first;
  if (digits == 0 || digits > kExactDecimalDigits) return false;
  std::uint64_t number = 0;
  for (std::size_t i = first; i < text.size(); ++i) {
    const unsigned digit = static_cast<unsigned char>(text[i]) - static_cast<unsigned>('0');
    if (digit > 9) return false;
    number = number * 10 + digit;
  }
  // "-0" reads as -0.0, which is not below zero: unsigned 0.
  if (negative && number != 0) {
    target.SetSigned(-static_cast<std::int64_t>(number));
  } else {
    target.SetUnsigned(number);
  }
  return true;
}

// A plain number: all of the text is one strtod number that is not infinite.
bool SetPlainNumber(BindingProperty& target, std::string_view text) {
  if (text.empty()) return false;
  // Of the letters, strtod accepts only those starting the infinity and not-a-number
  // words first; other leading letters are refused without calling it.
  const char first = text[0];
  const char lower = static_cast<char>(first | 0x20);
  if (lower >= 'a' && lower <= 'z' && lower != 'i' && lower != 'n') return false;
  if (SetPlainDecimal(target, text)) return true;
  // The parser's scalars are followed by a NUL byte, so strtod may read them in place.
  char* end = nullptr;
  const double number = std::strtod(text.data(), &end);
  if (end != text.data() + text.size() || std::isinf(number)) return false;
  double whole = 0.0;
  const double fraction = std::modf(number, &whole);
  // A fraction (or NaN) and an integer beyond 64 bits both stay floating point.
  if (fraction != 0.0 || std::isnan(number)) {  // NOLINT(bugprone-branch-clone)
    target.SetFloat(number);
  } else if (number >= 0.0 && number < kTwoTo64) {
    target.SetUnsigned(static_cast<std::uint64_t>(number));
  } else if (number < 0.0 && number >= kMinusTwoTo63) {
    target.SetSigned(static_cast<std::int64_t>(number));
  } else {
    target.SetFloat(number);
  }
  return true;
}

// The int and float tags convert their text by the binding layer's string rules,
// reported under the name "yaml".
MaybeType<Failure, void> ConvertYamlInteger(BindingProperty& target, std::string_view text) {
  BindingResult status;
  BindingProperty input;
  input.SetString(text);
  if (!text.empty() && text[0] == '-') {
    std::int64_t number = 0;
    ConvertSigned(status, number, input, kYamlName, std::numeric_limits<std::int64_t>::min(),
                  std::numeric_limits<std::int64_t>::max(), "int64_t");
    if (status.ok) target.SetSigned(number);
  } else {
    std::uint64_t number = 0;
    ConvertUnsigned(status, number, input, kYamlName, std::numeric_limits<std::uint64_t>::max(),
                    "uint64_t");
    if (status.ok) target.SetUnsigned(number);
  }
  if (!status.ok) return Failure{0, status.ErrorText()};
  return {};
}

MaybeType<Failure, void> ConvertYamlFloat(BindingProperty& target, std::string_view text) {
  BindingResult status;
  BindingProperty input;
  input.SetString(text);
  double number = 0.0;
  ConvertFloating(status, number, input, kYamlName, -std::numeric_limits<double>::max(),
                  std::numeric_limits<double>::max(), "double");
  if (!status.ok) return Failure{0, status.ErrorText()};
  target.SetFloat(number);
  return {};
}

}  // namespace

MaybeType<Failure, void> TypeYamlScalar(BindingProperty& target, const char* tag,
                                        std::string_view text, bool quoted) {
  if (tag != nullptr) {
    const std::string_view name(tag);
    if (name == kTagString) {
      target.SetString(text);
    } else if (name == kTagInt) {
      return ConvertYamlInteger(target, text);
    } else if (name == kTagFloat) {
      return ConvertYamlFloat(target, text);
    } else if (name == kTagBool) {
      // Neither form: the node keeps its value.
      SetBoolForm(target, text);
    } else {
      return Failure{0, Format(FormatMessages::kYamlUnsupportedTag, tag)};
    }
    return {};
  }
  if (quoted) {
    target.SetString(text);
  } else {
    TypePlainYamlScalar(target, text);
  }
  return {};
}

void TypePlainYamlScalar(BindingProperty& target, std::string_view text) {
  if (IsNullForm(text)) {
    target.Reset();
  } else if (!SetPlainNumber(target, text) && !SetBoolForm(target, text)) {
    target.SetString(text);
  }
}

}  // namespace Kavren::detail
