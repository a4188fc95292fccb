// Building host values from JSON, freeing them, and printing any host value as JSON.
#include "host/core/host_value.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace Kavren::Host {
namespace {

constexpr char kInvalidValue[] = "<invalid host value>";
constexpr char kTooDeep[] = "The value is nested deeper than 512 levels";

// 64-bit numbers travel as low 32 bits in `data` and high 32 bits in `extra`.
void SetWide(Abi::HostValue& value, Abi::HostWord type, std::uint64_t bits) {
  value.type = type;
  value.data = static_cast<Abi::HostWord>(bits & 0xFFFFFFFFu);
  value.extra = static_cast<Abi::HostWord>(bits >> 32);
}

std::uint64_t GetWide(const Abi::HostValue& value) {
  return (static_cast<std::uint64_t>(value.extra & 0xFFFFFFFFu) << 32) |
         static_cast<std::uint64_t>(value.data & 0xFFFFFFFFu);
}

template <class T>
T* AllocateZeroed(std::size_t count) {
  void* block = std::calloc(count == 0 ? 1 : count, sizeof(T));
  if (block == nullptr) throw std::bad_alloc();
  return static_cast<T*>(block);
}

bool Build(const rapidjson::Value& json, Abi::HostValue& value, int depth) {
  value = Abi::HostValue{};
  if (depth > kMaxValueDepth) return false;
  switch (json.GetType()) {
    case rapidjson::kNullType:
      return true;
    case rapidjson::kFalseType:
    case rapidjson::kTrueType:
      value.type = Abi::kHostValueBool;
      value.data = json.GetBool() ? 1 : 0;
      return true;
    case rapidjson::kNumberType: {
      if (json.IsInt64()) {
        SetWide(value, Abi::kHostValueSigned, static_cast<std::uint64_t>(json.GetInt64()));
      } else if (json.IsUint64()) {
        SetWide(value, Abi::kHostValueUnsigned, json.GetUint64());
      } else {
        const double number = json.GetDouble();
        std::uint64_t bits = 0;
        std::memcpy(&bits, &number, sizeof bits);
        SetWide(value, Abi::kHostValueFloat, bits);
      }
      return true;
    }
    case rapidjson::kStringType: {
      char* text = AllocateZeroed<char>(json.GetStringLength() + 1);
      std::memcpy(text, json.GetString(), json.GetStringLength());
      value.type = Abi::kHostValueOwnedString;
      value.data = reinterpret_cast<Abi::HostWord>(text);
      value.extra = json.GetStringLength();
      return true;
    }
    case rapidjson::kArrayType: {
      const rapidjson::SizeType count = json.Size();
      auto* elements = AllocateZeroed<Abi::HostValue>(count);
      value.type = Abi::kHostValueCollection;
      value.data = reinterpret_cast<Abi::HostWord>(elements);
      value.extra = count;
      for (rapidjson::SizeType index = 0; index < count; ++index) {
        Abi::HostValue element;
        const bool ok = Build(json[index], element, depth + 1);
        std::memcpy(&elements[index], &element, sizeof element);
        if (!ok) return false;
      }
      return true;
    }
    case rapidjson::kObjectType: {
      const rapidjson::SizeType count = json.MemberCount();
      auto* members = AllocateZeroed<Abi::HostStructMember>(count);
      value.type = Abi::kHostValueStructure;
      value.data = reinterpret_cast<Abi::HostWord>(members);
      value.extra = count;
      rapidjson::SizeType index = 0;
      for (auto member = json.MemberBegin(); member != json.MemberEnd(); ++member, ++index) {
        Abi::HostStructMember entry{};
        entry.key = DuplicateHostText(
            std::string(member->name.GetString(), member->name.GetStringLength()));
        entry.keyOwned = 1;
        const bool ok = Build(member->value, entry.value, depth + 1);
        std::memcpy(&members[index], &entry, sizeof entry);
        if (!ok) return false;
      }
      return true;
    }
  }
  return true;
}

void Write(rapidjson::Writer<rapidjson::StringBuffer>& writer, const Abi::HostValue& value,
           int depth);

void WriteBase64(rapidjson::Writer<rapidjson::StringBuffer>& writer, const unsigned char* bytes,
                 std::size_t count) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((count + 2) / 3 * 4);
  for (std::size_t index = 0; index < count; index += 3) {
    const std::uint32_t group = (static_cast<std::uint32_t>(bytes[index]) << 16) |
                                (index + 1 < count ? bytes[index + 1] << 8 : 0) |
                                (index + 2 < count ? bytes[index + 2] : 0);
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    text += index + 1 < count ? kAlphabet[(group >> 6) & 63] : '=';
    text += index + 2 < count ? kAlphabet[group & 63] : '=';
  }
  writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

void Write(rapidjson::Writer<rapidjson::StringBuffer>& writer, const Abi::HostValue& value,
           int depth) {
  if (depth > kMaxValueDepth) {
    writer.String(kInvalidValue);
    return;
  }
  const Abi::HostWord data = value.data;
  const Abi::HostWord extra = value.extra;
  switch (value.type) {
    case Abi::kHostValueEmpty:
      writer.Null();
      return;
    case Abi::kHostValueBool:
      writer.Bool((data & 0xFF) != 0);
      return;
    case Abi::kHostValueSigned:
      writer.Int64(static_cast<std::int64_t>(GetWide(value)));
      return;
    case Abi::kHostValueUnsigned:
      writer.Uint64(GetWide(value));
      return;
    case Abi::kHostValueFloat: {
      const std::uint64_t bits = GetWide(value);
      double number = 0;
      std::memcpy(&number, &bits, sizeof number);
      if (std::isfinite(number)) {
        writer.Double(number);
      } else {
        writer.Null();
      }
      return;
    }
    case Abi::kHostValueBorrowedString:
    case Abi::kHostValueOwnedString: {
      const char* text = reinterpret_cast<const char*>(data);
      if (text == nullptr) {
        writer.String("");
      } else {
        writer.String(text, static_cast<rapidjson::SizeType>(std::strlen(text)));
      }
      return;
    }
    case Abi::kHostValueBorrowedBlob:
    case Abi::kHostValueOwnedBlob:
      WriteBase64(writer, reinterpret_cast<const unsigned char*>(data), data == 0 ? 0 : extra);
      return;
    case Abi::kHostValueCollection: {
      writer.StartArray();
      const auto* elements = reinterpret_cast<const unsigned char*>(data);
      for (Abi::HostWord index = 0; elements != nullptr && index < extra; ++index) {
        Abi::HostValue element;
        std::memcpy(&element, elements + index * sizeof(Abi::HostValue), sizeof element);
        Write(writer, element, depth + 1);
      }
      writer.EndArray();
      return;
    }
    case Abi::kHostValueStructure: {
      writer.StartObject();
      const auto* members = reinterpret_cast<const unsigned char*>(data);
      for (Abi::HostWord index = 0; members != nullptr && index < extra; ++index) {
        Abi::HostStructMember member;
        std::memcpy(&member, members + index * sizeof(Abi::HostStructMember), sizeof member);
        const char* key = member.key != nullptr ? member.key : "";
        writer.Key(key, static_cast<rapidjson::SizeType>(std::strlen(key)));
        Write(writer, member.value, depth + 1);
      }
      writer.EndObject();
      return;
    }
    default:
      writer.String(kInvalidValue);
      return;
  }
}

}  // namespace

MaybeType<Failure> HostValueFromJson(const rapidjson::Value& json, Abi::HostValue& value) {
  if (Build(json, value, 1)) return {};
  FreeHostValue(value);
  return Failure{kTooDeep};
}

void FreeHostValue(Abi::HostValue& value) {
  const Abi::HostWord data = value.data;
  const Abi::HostWord extra = value.extra;
  switch (value.type) {
    case Abi::kHostValueOwnedString:
    case Abi::kHostValueOwnedBlob:
      std::free(reinterpret_cast<void*>(data));
      break;
    case Abi::kHostValueCollection: {
      auto* elements = reinterpret_cast<unsigned char*>(data);
      for (Abi::HostWord index = 0; elements != nullptr && index < extra; ++index) {
        Abi::HostValue element;
        std::memcpy(&element, elements + index * sizeof element, sizeof element);
        FreeHostValue(element);
      }
      std::free(elements);
      break;
    }
    case Abi::kHostValueStructure: {
      auto* members = reinterpret_cast<unsigned char*>(data);
      for (Abi::HostWord index = 0; members != nullptr && index < extra; ++index) {
        Abi::HostStructMember member;
        std::memcpy(&member, members + index * sizeof member, sizeof member);
        if (member.keyOwned != 0) std::free(const_cast<char*>(member.key));
        FreeHostValue(member.value);
      }
      std::free(members);
      break;
    }
    default:
      break;
  }
  value = Abi::HostValue{};
}

void WriteHostValue(rapidjson::Writer<rapidjson::StringBuffer>& writer,
                    const Abi::HostValue& value) {
  Write(writer, value, 1);
}

std::string HostValueToJson(const Abi::HostValue& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  WriteHostValue(writer, value);
  return std::string(buffer.GetString(), buffer.GetSize());
}

char* DuplicateHostText(const std::string& text) {
  char* copy = AllocateZeroed<char>(text.size() + 1);
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

}  // namespace Kavren::Host
