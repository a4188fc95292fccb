// Argument binding: request texts, argument entries and bodies into an endpoint's arguments.
#include "http/binding.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binding/convert.h"
#include "binding/host_value.h"
#include "formats/json.h"
#include "formats/msgpack.h"
#include "formats/yaml.h"
#include "http/message.h"
#include "http/router_messages.h"
#include "http/url.h"
#include "util/format.h"

namespace Kavren {
namespace {

constexpr std::string_view kMessagePackType = "application/x-msgpack";
constexpr std::string_view kJsonType = "application/json";
constexpr std::string_view kYamlTextType = "text/x-yaml";
constexpr std::string_view kOctetStreamType = "application/octet-stream";

using Outcome = MaybeType<Failure, void>;

Outcome Fail(std::string message) { return Failure{0, FailureMessage(std::move(message))}; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The first byte of a MessagePack map or array (fix forms, 16 and 32 bit forms).
bool StartsMessagePackContainer(std::string_view text) {
  if (text.empty()) return false;
  const auto first = static_cast<unsigned char>(text.front());
  return (first >= 0x80 && first <= 0x9F) || (first >= 0xDC && first <= 0xDF);
}

bool IsStructuredKind(TypeKind kind) {
  return kind == TypeKind::kVector || kind == TypeKind::kStruct || kind == TypeKind::kObject;
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

// The bytes a collection element of `type` takes once converted for the endpoint, beside
// its cell. Only what the type reference tells: an element whose native type it does not
// name (an element of a nested vector) is taken to be as large as a native text.
std::size_t NativeElementBytes(const TypeRef& type) {
  switch (type.kind) {
    case TypeKind::kNone:
      return 0;
    case TypeKind::kObject:  // converted by copying its cell
      return sizeof(BindingProperty);
    case TypeKind::kBool:
    case TypeKind::kInt8:
    case TypeKind::kUint8:
      return 1;
    case TypeKind::kInt16:
    case TypeKind::kUint16:
      return 2;
    case TypeKind::kInt32:
    case TypeKind::kUint32:
    case TypeKind::kFloat:
      return 4;
    case TypeKind::kInt64:
    case TypeKind::kUint64:
    case TypeKind::kDouble:
      return 8;
    case TypeKind::kBlob:
    case TypeKind::kVector:
      return sizeof(std::vector<std::uint8_t>);
    case TypeKind::kEnum:
    case TypeKind::kStruct:
      if (type.descriptor != nullptr) return type.descriptor->size;
      break;
    case TypeKind::kMap:
      return sizeof(std::unordered_map<std::string, std::int32_t>);
    default:
      break;
  }
  return sizeof(std::string);
}

// The type of the place a key component reaches from a place of `type`: an element of a
// vector or map, or the field of a struct that `member` names. kNone when not known.
TypeRef ComponentType(const TypeRef& type, bool isIndex, std::string_view member) {
  if (type.kind == TypeKind::kVector || type.kind == TypeKind::kMap) {
    if (isIndex == (type.kind == TypeKind::kVector)) {
      return TypeRef{type.elementKind, TypeKind::kNone, type.descriptor};
    }
    return TypeRef{};
  }
  if (type.kind == TypeKind::kStruct && !isIndex && type.descriptor != nullptr) {
    for (const FieldDescriptor& field : type.descriptor->fields) {
      if (field.name == member) return field.type;
    }
  }
  return TypeRef{};
}

enum class IndexParse { kOk, kFormat, kRange };

// Reads an index component the way an unsigned C conversion with base 0 does: "0x" and a
// hexadecimal digit select base 16, a leading 0 base 8, anything else base 10.
IndexParse ParseIndex(std::string_view component, std::uint32_t& index) {
  int base = 10;
  std::size_t position = 0;
  if (component.size() > 2 && component[0] == '0' && (component[1] == 'x' || component[1] == 'X') &&
      DigitValue(component[2]) < 16) {
    base = 16;
    position = 2;
  } else if (component[0] == '0') {
    base = 8;
  }
  std::uint64_t value = 0;
  bool overflow = false;
  for (; position < component.size(); ++position) {
    const int digit = DigitValue(component[position]);
    if (digit >= base) break;
    value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    if (value > 0xFFFFFFFFu) {
      overflow = true;
      value = 0xFFFFFFFFu;
    }
  }
  if (position != component.size()) return IndexParse::kFormat;
  if (overflow || value > kMaxKeyIndex) return IndexParse::kRange;
  index = static_cast<std::uint32_t>(value);
  return IndexParse::kOk;
}

const FunctionArgument* FindArgument(const FunctionRecord& function, std::string_view name,
                                     std::size_t& index) {
  for (index = 0; index < function.arguments.size(); ++index) {
    if (function.arguments[index].name == name) return &function.arguments[index];
  }
  return nullptr;
}

Outcome StoreDecoded(BindingProperty& target, BindingResult&& decoded, const char* message,
                     std::string_view parameter, std::string_view function) {
  if (!decoded.ok) return Fail(Format(message, parameter, function, decoded.ErrorText()));
  target.MoveFrom(decoded.value);
  return Outcome::Success();
}

Outcome StoreBody(BindingProperty& target, const Abi::HttpRequestRecord& request) {
  const auto* bytes = static_cast<const char*>(request.body);
  const std::string_view body(bytes, request.bodyLength);
  const std::string_view contentType =
      request.contentType != nullptr ? request.contentType : std::string_view();
  BodyFormat format = BodyFormatFromContentType(request.contentType);
  if (format == BodyFormat::None) {
    if (!contentType.empty()) {
      if (StartsWithNoCase(contentType, kYamlTextType)) format = BodyFormat::Yaml;
    } else if (IsMessagePackData(body.data(), body.size())) {
      format = BodyFormat::MessagePack;
    } else if (IsJsonText(body)) {
      format = BodyFormat::Json;
    } else if (IsYamlText(body)) {
      format = BodyFormat::Yaml;
    }
  }
  BindingResult decoded;
  switch (format) {
    case BodyFormat::Json:
      decoded = ReadJson(std::string(body));
      break;
    case BodyFormat::Yaml:
      decoded = ReadYaml(body);
      break;
    case BodyFormat::MessagePack: {
      std::size_t consumed = 0;
      decoded = ReadMessagePack(body.data(), body.size(), consumed);
      if (decoded.ok && consumed != body.size()) return Fail(RouterMessages::kExtraMessagePack);
      break;
    }
    case BodyFormat::None:
      return Fail(RouterMessages::kUnsupportedBody);
  }
  if (!decoded.ok) return Fail(decoded.ErrorText());
  target.MoveFrom(decoded.value);
  return Outcome::Success();
}

}  // namespace

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
  }
  return true;
}

Outcome StoreArgumentText(BindingProperty& target, std::string_view text,
                          std::string_view contentType, bool structured, std::string_view parameter,
                          std::string_view function) {
  const bool sniff = contentType.empty() && structured;
  if (StartsWithNoCase(contentType, kMessagePackType) ||
      (sniff && StartsMessagePackContainer(text))) {
    std::size_t consumed = 0;
    return StoreDecoded(target, ReadMessagePack(text.data(), text.size(), consumed),
                        RouterMessages::kMessagePackArgument, parameter, function);
  }
  if (StartsWithNoCase(contentType, kJsonType) || (sniff && IsJsonText(text))) {
    return StoreDecoded(target, ReadJson(std::string(text)), RouterMessages::kJsonArgument,
                        parameter, function);
  }
  if (StartsWithNoCase(contentType, kYamlTextType) || (sniff && IsYamlText(text))) {
    return StoreDecoded(target, ReadYaml(text), RouterMessages::kYamlArgument, parameter, function);
  }
  if (StartsWithNoCase(contentType, kOctetStreamType)) {
    target.SetBlobCopy(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    return Outcome::Success();
  }
  target.SetString(text);
  return Outcome::Success();
}

Outcome BindKeyText(const FunctionRecord& function, std::vector<BindingProperty>& arguments,
                    std::string_view key, std::string_view text, std::int32_t location) {
  std::size_t cellsLeft = kMaxKeyCells;
  return BindKeyText(function, arguments, key, text, location, cellsLeft);
}

Outcome BindKeyText(const FunctionRecord& function, std::vector<BindingProperty>& arguments,
                    std::string_view key, std::string_view text, std::int32_t location,
                    std::size_t& cellsLeft) {
  const std::size_t firstDot = key.find('.');
  const std::string_view first = key.substr(0, firstDot);
  // Counted before anything is created, so a hostile key cannot build a deep value.
  if (static_cast<std::size_t>(std::count(key.begin(), key.end(), '.')) + 1 > kMaxKeyComponents) {
    return Fail(Format(RouterMessages::kNestedTooDeep, first, function.name));
  }
  std::size_t index = 0;
  const FunctionArgument* argument = FindArgument(function, first, index);
  if (argument == nullptr || index >= arguments.size()) {
    return Fail(Format(RouterMessages::kUnknownArgument, first, function.name));
  }
  if (argument->location != kLocationAny && argument->location != location) {
    return Fail(Format(RouterMessages::kInvalidLocation, first, function.name));
  }
  BindingProperty* place = &arguments[index];
  if (firstDot == std::string_view::npos) {
    if (!text.empty()) {
      return StoreArgumentText(*place, text, {}, IsStructuredKind(argument->type.kind),
                               argument->name, function.name);
    }
    switch (argument->type.kind) {
      case TypeKind::kBool:
        place->SetBool(true);
        return Outcome::Success();
      case TypeKind::kObject:
      case TypeKind::kStruct:
        place->Reset();
        place->MakeStructure();
        return Outcome::Success();
      case TypeKind::kVector:
        place->Reset();
        place->MakeCollection();
        return Outcome::Success();
      default:
        return Fail(Format(RouterMessages::kExpectedValue, argument->name));
    }
  }
  // The native type of the place reached so far, as far as the argument's type says.
  TypeRef placeType = argument->type;
  // An object place is converted by copying its cells, so a cell created below one is
  // held twice while the call runs.
  bool belowObject = placeType.kind == TypeKind::kObject;
  std::string_view rest = key.substr(firstDot + 1);
  while (true) {
    const std::size_t dot = rest.find('.');
    const std::string_view component = rest.substr(0, dot);
    if (!component.empty() && component.front() >= '0' && component.front() <= '9') {
      std::uint32_t elementIndex = 0;
      switch (ParseIndex(component, elementIndex)) {
        case IndexParse::kFormat:
          return Fail(Format(RouterMessages::kIndexFormat, component));
        case IndexParse::kRange:
          return Fail(Format(RouterMessages::kIndexRange, component));
        case IndexParse::kOk:
          break;
      }
      // Counted before anything is created: each index alone is small, but a key can nest
      // them and a request can hold many keys. An element that the endpoint's conversion
      // turns into a larger native one costs the cells its native bytes would fill too,
      // so that the conversion stays within the allowance as well.
      placeType = ComponentType(placeType, true, {});
      // A collection that must grow allocates an array of its whole new capacity (held
      // beside the old one while it copies), so the growth costs that capacity; cells
      // within the room are paid for with their array.
      const std::size_t cell = sizeof(BindingProperty);
      const std::uint64_t perElement =
          (belowObject ? 1 : 0) + (NativeElementBytes(placeType) + cell - 1) / cell;
      const std::size_t existing = place->Is(ValueKind::kCollection) ? place->Size() : 0;
      if (elementIndex >= existing) {
        const std::uint64_t created = elementIndex + std::uint64_t{1} - existing;
        const std::uint64_t grown =
            elementIndex < place->Capacity() ? 0 : place->CapacityAfterGrow(elementIndex);
        const std::uint64_t cost = grown + created * perElement;
        if (cost > cellsLeft) return Fail(Format(RouterMessages::kIndexRange, component));
        cellsLeft -= static_cast<std::size_t>(cost);
      }
      place = &place->AtGrow(elementIndex);
    } else {
      placeType = ComponentType(placeType, false, component);
      place = &place->Member(component);
    }
    if (placeType.kind == TypeKind::kObject) belowObject = true;
    if (dot == std::string_view::npos) break;
    rest = rest.substr(dot + 1);
  }
  return StoreArgumentText(*place, text, {}, false, argument->name, function.name);
}

Outcome BindRequestArguments(const FunctionRecord& function, const Abi::HttpRequestRecord& request,
                             const RouteCaptures& captures, std::size_t captureCount,
                             std::vector<BindingProperty>& arguments) {
  const std::vector<FunctionArgument>& parameters = function.arguments;
  arguments.clear();
  arguments.resize(parameters.size());
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    if (parameters[i].type.kind == TypeKind::kBool && !parameters[i].optional) {
      arguments[i].SetBool(false);
    }
  }

  // Header candidates: the parameter's name in lower case, compared exactly.
  std::vector<std::pair<std::string_view, std::string_view>> headerCandidates;
  for (const FunctionArgument& parameter : parameters) {
    if (parameter.location != kLocationAny && parameter.location != kLocationHeader) continue;
    std::string lower(parameter.name);
    std::transform(lower.begin(), lower.end(), lower.begin(), LowerAscii);
    for (std::uint32_t h = 0; h < request.headerCount && request.headers != nullptr; ++h) {
      const Abi::HttpHeaderEntry& header = request.headers[h];
      if (header.name != nullptr && lower == header.name) {
        headerCandidates.emplace_back(parameter.name, header.value != nullptr ? header.value : "");
        break;
      }
    }
  }
  // One allowance of created elements for all keys of the request.
  std::size_t cellsLeft = kMaxKeyCells;
  for (const auto& [key, text] : headerCandidates) {
    Outcome bound = BindKeyText(function, arguments, key, text, kLocationHeader, cellsLeft);
    if (bound.Failed()) return bound;
  }
  for (const auto& [key, text] : captures) {
    Outcome bound = BindKeyText(function, arguments, key, text, kLocationPath, cellsLeft);
    if (bound.Failed()) return bound;
  }
  if (request.path != nullptr) {
    for (const auto& [key, text] : ParseQuery(request.path)) {
      Outcome bound = BindKeyText(function, arguments, key, text, kLocationQuery, cellsLeft);
      if (bound.Failed()) return bound;
    }
  }

  for (std::uint32_t e = 0; e < request.argumentCount && request.arguments != nullptr; ++e) {
    const Abi::HttpArgumentEntry& entry = request.arguments[e];
    std::size_t index = 0;
    if (entry.name != nullptr) {
      if (FindArgument(function, entry.name, index) == nullptr) {
        return Fail(Format(RouterMessages::kUnknownArgument, entry.name, function.name));
      }
    } else {
      index = e + captureCount;
      if (index >= parameters.size()) {
        return Fail(Format(RouterMessages::kUnknownArgument, std::to_string(e), function.name));
      }
    }
    const MaybeType<Failure, void> converted =
        HostToValue(arguments[index], entry.value, parameters[index].name.c_str());
    if (converted.Failed()) {
      return Fail(converted.GetFailure().message.Str());
    }
  }

  if (request.body != nullptr) {
    for (std::size_t i = 0; i < parameters.size(); ++i) {
      if (parameters[i].location == kLocationBody) return StoreBody(arguments[i], request);
    }
  }
  return Outcome::Success();
}

}  // namespace Kavren
