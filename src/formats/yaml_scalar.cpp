// Typing of YAML scalars in value position: tags, quoting, null forms, numbers, booleans.
#include "formats/yaml_scalar.h"

#include <array>
#include <cctype>
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

constexpr std::array<std::string_view, 5> kNullForms = {"", "~", "null", "Null", "NULL"};
constexpr std::array<std::string_view, 11> kTrueForms = {"true", "True", "TRUE", "y",  "Y", "yes",
                                                         "Yes",  "YES",  "on",   "On", "ON"};
constexpr std::array<std::string_view, 11> kFalseForms = {
    "false", "False", "FALSE", "n", "N", "no", "No", "NO", "off", "Off", "OFF"};

// 2^64 and -2^63 as doubles: whole numbers from 2^64 up (or below -2^63) have no
// integer form and stay floats.
constexpr double kTwoTo64 = 18446744073709551616.0;
constexpr double kMinusTwoTo63 = -9223372036854775808.0;

template <std::size_t N>
bool OneOf(const std::array<std::string_view, N>& forms, std::string_view text) {
  for (const std::string_view form : forms) {
    if (form == text) return true;
  }
  return false;
}

// Sets a boolean form; false when the text is none.
bool SetBoolForm(BindingProperty& target, std::string_view text) {
  if (OneOf(kTrueForms, text)) {
    target.SetBool(true);
    return true;
  }
  if (OneOf(kFalseForms, text)) {
    target.SetBool(false);
    return true;
  }
  return false;
}

// A plain number: all of the text is one strtod number that is not infinite.
bool SetPlainNumber(BindingProperty& target, std::string_view text) {
  if (text.empty()) return false;
  // Letters can start only the infinity and not-a-number words.
  const char first = text[0];
  if (std::isalpha(static_cast<unsigned char>(first)) && first != 'i' && first != 'I' &&
      first != 'n' && first != 'N') {
    return false;
  }
  // The parser's scalars are followed by a NUL byte, so strtod may read them in place.
  char* end = nullptr;
  const double number = std::strtod(text.data(), &end);
  if (end != text.data() + text.size() || std::isinf(number)) return false;
  double whole = 0.0;
  const double fraction = std::modf(number, &whole);
  if (fraction != 0.0 || std::isnan(number)) {
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
bool ConvertYamlInteger(BindingProperty& target, std::string_view text, std::string& failure) {
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
  if (!status.ok) failure = status.ErrorText();
  return status.ok;
}

bool ConvertYamlFloat(BindingProperty& target, std::string_view text, std::string& failure) {
  BindingResult status;
  BindingProperty input;
  input.SetString(text);
  double number = 0.0;
  ConvertFloating(status, number, input, kYamlName, -std::numeric_limits<double>::max(),
                  std::numeric_limits<double>::max(), "double");
  if (status.ok) {
    target.SetFloat(number);
  } else {
    failure = status.ErrorText();
  }
  return status.ok;
}

}  // namespace

bool TypeYamlScalar(BindingProperty& target, const char* tag, std::string_view text, bool quoted,
                    std::string& failure) {
  if (tag != nullptr) {
    const std::string_view name(tag);
    if (name == kTagString) {
      target.SetString(text);
    } else if (name == kTagInt) {
      return ConvertYamlInteger(target, text, failure);
    } else if (name == kTagFloat) {
      return ConvertYamlFloat(target, text, failure);
    } else if (name == kTagBool) {
      // Neither form: the node keeps its value.
      SetBoolForm(target, text);
    } else {
      failure = Format(FormatMessages::kYamlUnsupportedTag, tag);
      return false;
    }
    return true;
  }
  if (quoted) {
    target.SetString(text);
  } else if (OneOf(kNullForms, text)) {
    target.Reset();
  } else if (!SetPlainNumber(target, text) && !SetBoolForm(target, text)) {
    target.SetString(text);
  }
  return true;
}

}  // namespace Kavren::detail
