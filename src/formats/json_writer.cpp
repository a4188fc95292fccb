// WriteJson: a value visitor driving RapidJSON's compact or pretty writer.
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <cstring>
#include <string>

#include "binding/registry.h"
#include "formats/json.h"
#include "formats/json_allocator.h"

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

// RapidJSON's two writers into a buffer over the accounting, their stacks too.
using CompactJsonWriter =
    rapidjson::Writer<JsonStringBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>, JsonAllocator>;
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
    writer_.Double(value);
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
  void BeginMember(std::string_view key) override {
    writer_.Key(key.data(), static_cast<rapidjson::SizeType>(key.size()));
  }
  void EndStructure() override { writer_.EndObject(); }

 private:
  void String(std::string_view text) {
    writer_.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
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
    value.Visit(visitor);
    std::string text(buffer.GetString(), buffer.GetSize());
    if (std::strcmp(newline, "\n") != 0) detail::ReplaceNewlines(text, newline);
    return text;
  }
  detail::JsonValueWriter<detail::CompactJsonWriter> visitor(buffer, registry);
  value.Visit(visitor);
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace Kavren
