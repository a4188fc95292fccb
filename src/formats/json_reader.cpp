// ReadJson: RapidJSON's SAX reader feeding a handler that builds binding values.
#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "binding/structure_builder.h"
#include "formats/json.h"
#include "formats/json_allocator.h"
#include "formats/limits.h"
#include "formats/messages.h"

namespace Kavren {
namespace detail {
namespace {

// Numbers arrive as raw text (the library's own conversion of Debian's release has
// undefined behaviour on some exponents); the handler classifies and converts them.
//
// The text is parsed in place, in a private copy: strings are decoded and numbers
// handed over where they stand instead of being copied through the reader's stack.
// Accepted documents, messages and offsets are those of the default flags.
constexpr unsigned kJsonReadFlags = rapidjson::kParseDefaultFlags |
                                    rapidjson::kParseNumbersAsStringsFlag |
                                    rapidjson::kParseInsituFlag;
constexpr std::size_t kJsonInitialStackCapacity = 256;

enum class JsonStop { kNone, kTooDeep, kNumberTooBig };

// True when the decimal number text (a JSON number: sign, digits, fraction,
// exponent) has a magnitude of at least 1, i.e. a conversion that left the double
// range overflowed rather than underflowed.
bool MagnitudeAtLeastOne(std::string_view raw) {
  std::size_t i = (!raw.empty() && raw[0] == '-') ? 1 : 0;
  std::int64_t leading = 0;  // decimal exponent of the first non-zero digit
  bool found = false;
  std::int64_t integerDigits = 0;
  for (; i < raw.size() && raw[i] >= '0' && raw[i] <= '9'; ++i) {
    if (!found && raw[i] != '0') {
      found = true;
      leading = -integerDigits;  // corrected by the integer length below
    }
    ++integerDigits;
  }
  if (found) leading += integerDigits - 1;
  if (i < raw.size() && raw[i] == '.') {
    ++i;
    for (std::int64_t position = 1; i < raw.size() && raw[i] >= '0' && raw[i] <= '9';
         ++i, ++position) {
      if (!found && raw[i] != '0') {
        found = true;
        leading = -position;
      }
    }
  }
  if (!found) return false;
  std::int64_t exponent = 0;
  if (i < raw.size() && (raw[i] == 'e' || raw[i] == 'E')) {
    ++i;
    bool negative = false;
    if (i < raw.size() && (raw[i] == '+' || raw[i] == '-')) negative = raw[i++] == '-';
    for (; i < raw.size() && raw[i] >= '0' && raw[i] <= '9'; ++i) {
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (raw[i] - '0');
    }
    if (negative) exponent = -exponent;
  }
  return leading + exponent >= 0;
}

// The reader's event sink: places each value by the rule "append to the innermost
// open collection, otherwise write into the current value".
class JsonValueHandler {
 public:
  JsonValueHandler(BindingProperty& root, rapidjson::InsituStringStream& stream)
      : current_(&root), stream_(stream) {}

  /// Closes the structures a read left open, putting every structure into key order.
  void Finish() { structures_.CloseAll(); }
  /// Forgets the open structures of a failed read, whose value is reset next.
  void Abandon() { structures_.Abandon(); }

  JsonStop stop() const { return stop_; }
  std::size_t stopOffset() const { return stopOffset_; }

  bool Null() {
    Target();
    return true;
  }
  bool Bool(bool value) {
    Target().SetBool(value);
    return true;
  }
  // With numbers read as text only RawNumber is called; the typed events stay
  // for completeness of the handler concept.
  bool Int(int value) {
    Target().SetSigned(value);
    return true;
  }
  bool Uint(unsigned value) {
    Target().SetUnsigned(value);
    return true;
  }
  bool Int64(std::int64_t value) {
    Target().SetSigned(value);
    return true;
  }
  bool Uint64(std::uint64_t value) {
    Target().SetUnsigned(value);
    return true;
  }
  bool Double(double value) {
    Target().SetFloat(value);
    return true;
  }

  bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
    // The library scans a number on a copy of the stream and moves the stream on
    // only after this call, so the stream still stands at the number's first byte.
    const std::size_t numberOffset = stream_.Tell();
    BindingProperty& target = Target();
    const char* end = text + length;
    const bool negative = text[0] == '-';
    // Integers of up to 19 digits fit 64 bits whatever their digits; the rest go
    // through the library conversions below.
    const char* digits = text + (negative ? 1 : 0);
    std::uint64_t magnitude = 0;
    const char* cursor = digits;
    for (; cursor != end && *cursor >= '0' && *cursor <= '9'; ++cursor) {
      magnitude = magnitude * 10 + static_cast<unsigned>(*cursor - '0');
    }
    if (cursor == end) {
      if (cursor - digits <= 19) {
        if (!negative) {
          target.SetUnsigned(magnitude);
          return true;
        }
        if (magnitude <= std::uint64_t{1} << 63) {
          target.SetSigned(static_cast<std::int64_t>(0 - magnitude));
          return true;
        }
      } else if (negative) {
        std::int64_t value = 0;
        auto [ptr, ec] = std::from_chars(text, end, value);
        if (ec == std::errc() && ptr == end) {
          target.SetSigned(value);
          return true;
        }
      } else {
        std::uint64_t value = 0;
        auto [ptr, ec] = std::from_chars(text, end, value);
        if (ec == std::errc() && ptr == end) {
          target.SetUnsigned(value);
          return true;
        }
      }
    }
    double value = 0.0;
    auto [ptr, ec] = std::from_chars(text, end, value);
    if (ec == std::errc::result_out_of_range) {
      if (MagnitudeAtLeastOne(std::string_view(text, length))) {
        stop_ = JsonStop::kNumberTooBig;
        stopOffset_ = numberOffset;
        return false;
      }
      value = negative ? -0.0 : 0.0;
    }
    target.SetFloat(value);
    return true;
  }

  bool String(const char* text, rapidjson::SizeType length, bool) {
    // An escaped NUL ends the text.
    Target().SetString(HashUntilZero(text, length));
    return true;
  }

  bool StartObject() { return Open(false); }
  bool Key(const char* text, rapidjson::SizeType length, bool) {
    // The name ends at its first NUL (an escaped one included); the search stops at the
    // decoded length.
    current_ = &structures_.MemberUpToZero(text, length);
    return true;
  }
  bool EndObject(rapidjson::SizeType) {
    structures_.Close();
    stack_.pop_back();
    return true;
  }
  bool StartArray() { return Open(true); }
  bool EndArray(rapidjson::SizeType) {
    stack_.pop_back();
    return true;
  }

 private:
  struct OpenContainer {
    BindingProperty* value;
    bool isCollection;
  };

  BindingProperty& Target() {
    if (!stack_.empty() && stack_.back().isCollection) return stack_.back().value->Append();
    return *current_;
  }

  bool Open(bool collection) {
    if (stack_.size() >= kMaxNestingDepth) {
      stop_ = JsonStop::kTooDeep;
      stopOffset_ = stream_.Tell() - 1;  // the bracket was taken already
      return false;
    }
    BindingProperty& target = Target();
    if (collection) {
      target.MakeCollection();
    } else {
      target.MakeStructure();
      structures_.Open(target);
    }
    stack_.push_back({&target, collection});
    return true;
  }

  BindingProperty* current_;
  rapidjson::InsituStringStream& stream_;
  std::vector<OpenContainer> stack_;
  StructureBuilder structures_;
  JsonStop stop_ = JsonStop::kNone;
  std::size_t stopOffset_ = 0;
};

void FailJson(BindingResult& result, const char* message, std::size_t offset) {
  char text[256];
  std::snprintf(text, sizeof text, FormatMessages::kJsonError, message,
                static_cast<unsigned>(offset));
  result.Fail(text);
}

// Reads the text of `length` bytes; the reader stops at its first zero byte either way.
BindingResult ReadJsonText(const char* text, std::size_t length) {
  BindingResult result;
  result.ok = true;
  std::string copy(text, length);
  rapidjson::InsituStringStream stream(copy.data());
  JsonValueHandler handler(result.value, stream);
  JsonAllocator allocator;
  rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, JsonAllocator> reader(
      &allocator, kJsonInitialStackCapacity);
  rapidjson::ParseResult parsed;
  try {
    parsed = reader.Parse<kJsonReadFlags>(stream, handler);
  } catch (const ValueLimitError& limit) {
    // The tree reached a limit: a failure at the offset read so far, like any other.
    handler.Abandon();
    char message[128];
    std::snprintf(message, sizeof message, FormatMessages::kJsonValueLimit, limit.what());
    FailJson(result, message, stream.Tell());
    return result;
  }
  if (parsed) {
    handler.Finish();
    return result;
  }
  handler.Abandon();
  switch (parsed.Code()) {
    case rapidjson::kParseErrorDocumentEmpty:
      result.value.Reset();
      return result;
    case rapidjson::kParseErrorTermination:
      if (handler.stop() == JsonStop::kTooDeep) {
        FailJson(result, FormatMessages::kJsonNestingTooDeep, handler.stopOffset());
        return result;
      }
      if (handler.stop() == JsonStop::kNumberTooBig) {
        FailJson(result, rapidjson::GetParseError_En(rapidjson::kParseErrorNumberTooBig),
                 handler.stopOffset());
        return result;
      }
      break;
    default:
      break;
  }
  FailJson(result, rapidjson::GetParseError_En(parsed.Code()), parsed.Offset());
  return result;
}

}  // namespace
}  // namespace detail

BindingResult ReadJson(const char* text) {
  if (text == nullptr) {
    BindingResult result;
    result.ok = true;
    return result;
  }
  return detail::ReadJsonText(text, std::strlen(text));
}

// The length is known: the text is not measured again.
BindingResult ReadJson(const std::string& text) {
  return detail::ReadJsonText(text.data(), text.size());
}

bool IsJsonText(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  return first != std::string_view::npos && (text[first] == '{' || text[first] == '[');
}

}  // namespace Kavren
