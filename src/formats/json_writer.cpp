// WriteJson: a value visitor driving RapidJSON's compact or pretty writer.
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>
#include <type_traits>

#include "binding/registry.h"
#include "binding/value_walk.h"
#include "formats/json.h"
#include "formats/json_allocator.h"
#include "util/word_bytes.h"

namespace Kavren {
namespace detail {
namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    out += kBase64Alphabet[(group >> 18) & 0x3F];
    out += kBase64Alphabet[(group >> 12) & 0x3F];
    out += kBase64Alphabet[(group >> 6) & 0x3F];
    out += kBase64Alphabet[group & 0x3F];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    const std::uint32_t group = (bytes[i] << 16) | (rest == 2 ? bytes[i + 1] << 8 : 0);
    out += kBase64Alphabet[(group >> 18) & 0x3F];
    out += kBase64Alphabet[(group >> 12) & 0x3F];
    out += rest == 2 ? kBase64Alphabet[(group >> 6) & 0x3F] : '=';
    out += '=';
  }
  return out;
}

// True when `text` holds a character JSON must escape (a control character, a quote or a
// backslash: what RapidJSON's writer escapes between UTF-8 texts). A word of bytes at a time:
// a byte below 0x20, or equal to 0x22 or 0x5C, sets its high bit in the word's test.
bool NeedsEscape(std::string_view text) {
  using Word = std::size_t;
  const char* at = text.data();
  const char* const end = at + text.size();
  for (; end - at >= static_cast<std::ptrdiff_t>(sizeof(Word)); at += sizeof(Word)) {
    Word word;
    std::memcpy(&word, at, sizeof word);
    if ((BytesBelow(word, 0x20) | ZeroBytes(word ^ EveryByte<Word>('"')) |
         ZeroBytes(word ^ EveryByte<Word>('\\'))) != 0) {
      return true;
    }
  }
  for (; at != end; ++at) {
    const auto byte = static_cast<unsigned char>(*at);
    if (byte < 0x20 || byte == '"' || byte == '\\') return true;
  }
  return false;
}

// RapidJSON's compact writer with faster paths. RapidJSON formats numbers straight into its
// own StringBuffer, but for a buffer over another allocator (ours, the accounting) it formats
// into a local array and copies it out a byte at a time, reloading the buffer's end after
// each byte (a third of writing a document of numbers); these format in place, as it does
// for its own. Texts with nothing to escape are copied whole instead of byte by byte.
class CompactJsonWriter : public rapidjson::Writer<JsonStringBuffer, rapidjson::UTF8<>,
                                                   rapidjson::UTF8<>, JsonAllocator> {
 public:
  using Writer::Writer;

  bool Int64(std::int64_t value) {
    return InPlace<21>([value](char* out) { return rapidjson::internal::i64toa(value, out); });
  }
  bool Uint64(std::uint64_t value) {
    return InPlace<20>([value](char* out) { return rapidjson::internal::u64toa(value, out); });
  }
  bool FiniteDouble(double value) {
    return InPlace<25>([value, places = maxDecimalPlaces_](char* out) {
      return rapidjson::internal::dtoa(value, out, places);
    });
  }

  // A string or key: copied whole when no character needs an escape, which is almost every
  // key and most texts; otherwise the writer's own escaping.
  bool Text(std::string_view text) {
    if (NeedsEscape(text)) {
      return String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
    }
    Prefix(rapidjson::kStringType);
    char* const out = os_->Push(text.size() + 2);
    out[0] = '"';
    if (!text.empty()) std::memcpy(out + 1, text.data(), text.size());
    out[text.size() + 1] = '"';
    return EndValue(true);
  }

 private:
  // A number that `format` writes into at most kRoom characters, written where it goes.
  template <std::size_t kRoom, class Format>
  bool InPlace(Format format) {
    Prefix(rapidjson::kNumberType);
    char* const start = os_->Push(kRoom);
    const char* const end = format(start);
    os_->Pop(kRoom - static_cast<std::size_t>(end - start));
    return EndValue(true);
  }
};

// RapidJSON's pretty writer into a buffer over the accounting, its stack too.
using PrettyJsonWriter =
    rapidjson::PrettyWriter<JsonStringBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>, JsonAllocator>;

// The visitor of one WriteJson call; `Writer` is RapidJSON's compact or pretty writer.
template <class Writer>
class JsonValueWriter final : public BindingVisitor {
 public:
  JsonValueWriter(JsonStringBuffer& buffer, const BindingRegistry* registry)
      : writer_(buffer), registry_(registry) {}

  Writer& writer() { return writer_; }

  void VisitEmpty() override { writer_.Null(); }
  void VisitBool(bool value) override { writer_.Bool(value); }
  void VisitSigned(std::int64_t value) override { writer_.Int64(value); }
  void VisitUnsigned(std::uint64_t value) override { writer_.Uint64(value); }
  void VisitFloat(double value) override {
    // The library refuses these and would stop mid-document; JSON has no form for them.
    if (!std::isfinite(value)) {
      writer_.Null();
      return;
    }
    if constexpr (std::is_same_v<Writer, CompactJsonWriter>) {
      writer_.FiniteDouble(value);
    } else {
      writer_.Double(value);
    }
  }
  void VisitString(std::string_view text) override { String(text); }
  void VisitBlob(std::span<const std::uint8_t> bytes) override { String(Base64(bytes)); }
  void VisitEnum(BindingEnumValue value) override {
    const char* name =
        registry_ != nullptr ? registry_->EnumValueName(value.identity, value.value) : nullptr;
    if (name != nullptr) {
      String(name);
    } else {
      writer_.Int64(value.value);
    }
  }
  void BeginCollection(std::size_t) override { writer_.StartArray(); }
  void EndCollection() override { writer_.EndArray(); }
  void BeginStructure(std::size_t) override { writer_.StartObject(); }
  void BeginMember(std::string_view key) override { String(key); }
  void EndStructure() override { writer_.EndObject(); }

 private:
  // A key is written as a string: the writer tells keys from values by their place.
  void String(std::string_view text) {
    if constexpr (std::is_same_v<Writer, CompactJsonWriter>) {
      writer_.Text(text);
    } else {
      writer_.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
    }
  }

  Writer writer_;
  const BindingRegistry* registry_;
};

void ReplaceNewlines(std::string& text, std::string_view newline) {
  std::string out;
  out.reserve(text.size() + text.size() / 8 * newline.size());
  for (const char c : text) {
    if (c == '\n') {
      out += newline;
    } else {
      out += c;
    }
  }
  text = std::move(out);
}

}  // namespace
}  // namespace detail

std::string WriteJson(const BindingProperty& value, const BindingRegistry* registry,
                      const char* newline) {
  if (value.Is(ValueKind::kEmpty)) return std::string();
  JsonStringBuffer buffer;
  if (newline != nullptr && newline[0] != '\0') {
    detail::JsonValueWriter<detail::PrettyJsonWriter> visitor(buffer, registry);
    visitor.writer().SetIndent(' ', 4);
    WalkValue(value, visitor);
    std::string text(buffer.GetString(), buffer.GetSize());
    if (std::strcmp(newline, "\n") != 0) detail::ReplaceNewlines(text, newline);
    return text;
  }
  detail::JsonValueWriter<detail::CompactJsonWriter> visitor(buffer, registry);
  WalkValue(value, visitor);
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace Kavren
