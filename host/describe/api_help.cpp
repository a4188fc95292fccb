// The API help's native and epytext forms, rendered from the host's copy of the API block.
#include "host/describe/api_help.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <iterator>
#include <vector>

namespace Kavren::Host {
namespace {

using Allocator = rapidjson::Document::AllocatorType;

constexpr const char kLineEnd[] = "\r\n";
constexpr const char kParagraphEnd[] = "\r\n\r\n";

// Epytext names of the kinds 1 to 14.
constexpr const char* kEpytextScalarTexts[] = {
    "",      "bool",   "int8",  "uint8",  "int16",  "uint16", "int32",     "uint32",
    "int64", "uint64", "float", "double", "string", "object", "bytearray",
};

// The native type text: registered names for enumerations and records (the kind's name
// without one), the kind's name for everything else.
std::string TypeText(const ApiTypeReference& type) {
  if ((type.kind == ApiKind::kEnum || type.kind == ApiKind::kStruct) && !type.typeName.empty()) {
    return type.typeName;
  }
  return ApiKindName(type.kind);
}

std::string ElementTypeText(const ApiTypeReference& type) {
  if (type.kind != ApiKind::kVector && type.kind != ApiKind::kMap) return {};
  return TypeText(ApiTypeReference{type.elementKind, ApiKind::kNone, type.typeName});
}

std::string EscapeEpytext(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  if (!text.empty() && text.front() == '-') {
    escaped += "E{-}";
    text.remove_prefix(1);
  }
  for (const char c : text) {
    if (c == '{') {
      escaped += "E{lb}";
    } else if (c == '}') {
      escaped += "E{rb}";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string EpytextReferenceText(const ApiTypeReference& type) {
  const auto kind = static_cast<std::uint32_t>(type.kind);
  if (kind >= 1 && kind < std::size(kEpytextScalarTexts)) return kEpytextScalarTexts[kind];
  switch (type.kind) {
    case ApiKind::kVector:
    case ApiKind::kMap: {
      const std::string element =
          EpytextReferenceText(ApiTypeReference{type.elementKind, ApiKind::kNone, type.typeName});
      return (type.kind == ApiKind::kVector ? "list[" : "dict[") + element + "]";
    }
    case ApiKind::kEnum:
    case ApiKind::kStruct:
      if (type.typeName.empty()) return ApiKindName(type.kind);
      return "L{" + type.typeName + "}";
    case ApiKind::kCallback:
      return "callback";
    default:
      return {};
  }
}

void AppendTags(std::string& text, const std::vector<std::string>& tags) {
  if (tags.empty()) return;
  text += "@tags: ";
  for (std::size_t index = 0; index < tags.size(); ++index) {
    if (index > 0) text += ',';
    text += tags[index];
  }
  text += kLineEnd;
}

void AppendParagraph(std::string& text, const std::string& paragraph) {
  if (paragraph.empty()) return;
  text += EscapeEpytext(paragraph);
  text += kParagraphEnd;
}

rapidjson::Value String(const std::string& text, Allocator& allocator) {
  return rapidjson::Value(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

rapidjson::Value StringList(const std::vector<std::string>& texts, Allocator& allocator) {
  rapidjson::Value list(rapidjson::kArrayType);
  for (const std::string& text : texts) list.PushBack(String(text, allocator), allocator);
  return list;
}

rapidjson::Value TypeIdentifier(const ApiTypeReference& type, Allocator& allocator) {
  rapidjson::Value identifier(rapidjson::kObjectType);
  identifier.AddMember("type", String(TypeText(type), allocator), allocator);
  identifier.AddMember("elementType", String(ElementTypeText(type), allocator), allocator);
  return identifier;
}

rapidjson::Value FunctionHelp(const ApiEndpoint& endpoint, Allocator& allocator) {
  rapidjson::Value help(rapidjson::kObjectType);
  help.AddMember("name", String(endpoint.name, allocator), allocator);
  help.AddMember("nameSpace", String(endpoint.nameSpace, allocator), allocator);
  rapidjson::Value arguments(rapidjson::kArrayType);
  for (const ApiArgument& argument : endpoint.arguments) {
    rapidjson::Value entry(rapidjson::kObjectType);
    entry.AddMember("name", String(argument.name, allocator), allocator);
    entry.AddMember("description", String(argument.description, allocator), allocator);
    entry.AddMember("type", TypeIdentifier(argument.type, allocator), allocator);
    entry.AddMember("optional", argument.optional, allocator);
    arguments.PushBack(entry, allocator);
  }
  help.AddMember("arguments", arguments, allocator);
  help.AddMember("returns", TypeIdentifier(endpoint.returns, allocator), allocator);
  help.AddMember("description", String(endpoint.description, allocator), allocator);
  help.AddMember("help", String(endpoint.help, allocator), allocator);
  help.AddMember("threadSafe", endpoint.threadSafe, allocator);
  help.AddMember("async", String(endpoint.asyncResultType, allocator), allocator);
  help.AddMember("tags", StringList(endpoint.tags, allocator), allocator);
  return help;
}

rapidjson::Value TypeHelp(const ApiType& type, Allocator& allocator) {
  rapidjson::Value help(rapidjson::kObjectType);
  help.AddMember("name", String(type.name, allocator), allocator);
  help.AddMember("nameSpace", String(type.nameSpace, allocator), allocator);
  help.AddMember("size", type.size, allocator);
  help.AddMember("description", String(type.description, allocator), allocator);
  help.AddMember("tags", StringList(type.tags, allocator), allocator);
  rapidjson::Value fields(rapidjson::kArrayType);
  for (const ApiField& field : type.fields) {
    rapidjson::Value entry(rapidjson::kObjectType);
    entry.AddMember("name", String(field.name, allocator), allocator);
    entry.AddMember("description", String(field.description, allocator), allocator);
    entry.AddMember("offset", field.offset, allocator);
    entry.AddMember("type", TypeIdentifier(field.type, allocator), allocator);
    entry.AddMember("optional", field.optional, allocator);
    fields.PushBack(entry, allocator);
  }
  help.AddMember("fields", fields, allocator);
  rapidjson::Value values(rapidjson::kArrayType);
  for (const ApiEnumValue& value : type.values) {
    rapidjson::Value entry(rapidjson::kObjectType);
    entry.AddMember("name", String(value.name, allocator), allocator);
    entry.AddMember("description", String(value.description, allocator), allocator);
    entry.AddMember("value", value.value, allocator);
    values.PushBack(entry, allocator);
  }
  help.AddMember("values", values, allocator);
  return help;
}

rapidjson::Value EventHelp(const ApiEvent& event, Allocator& allocator) {
  rapidjson::Value help(rapidjson::kObjectType);
  help.AddMember("name", String(event.name, allocator), allocator);
  help.AddMember("nameSpace", String(event.nameSpace, allocator), allocator);
  // The payload is named as an enumeration or record would be: its registered name.
  rapidjson::Value type(rapidjson::kObjectType);
  type.AddMember("type", String(event.payloadTypeName, allocator), allocator);
  type.AddMember("elementType", "", allocator);
  help.AddMember("type", type, allocator);
  help.AddMember("description", String(event.description, allocator), allocator);
  help.AddMember("tags", StringList(event.tags, allocator), allocator);
  return help;
}

template <class Item>
std::vector<const Item*> SortedByName(const std::vector<Item>& items) {
  std::vector<const Item*> sorted;
  sorted.reserve(items.size());
  for (const Item& item : items) sorted.push_back(&item);
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const Item* left, const Item* right) { return left->name < right->name; });
  return sorted;
}

// One member of the output; null when the list has no items.
template <class Item, class Render>
void AddList(rapidjson::Document& out, const char* member, const std::vector<Item>& items,
             Render render) {
  Allocator& allocator = out.GetAllocator();
  rapidjson::Value list;
  for (const Item* item : SortedByName(items)) render(list, *item, allocator);
  out.AddMember(rapidjson::StringRef(member), list, allocator);
}

void AppendHelp(rapidjson::Value& list, rapidjson::Value help, Allocator& allocator) {
  if (!list.IsArray()) list.SetArray();
  list.PushBack(help, allocator);
}

void SetText(rapidjson::Value& list, const std::string& name, const std::string& text,
             Allocator& allocator) {
  if (!list.IsObject()) list.SetObject();
  // A second item of the same name replaces the first, as a structure member would.
  const auto found = list.FindMember(name.c_str());
  if (found != list.MemberEnd()) {
    found->value = String(text, allocator);
    return;
  }
  list.AddMember(String(name, allocator), String(text, allocator), allocator);
}

}  // namespace

std::string EpytextEndpointText(const ApiEndpoint& endpoint) {
  std::string text;
  AppendParagraph(text, endpoint.description);
  AppendParagraph(text, endpoint.help);
  for (const ApiArgument& argument : endpoint.arguments) {
    if (!argument.description.empty()) {
      text += "@param " + argument.name + ": ";
      if (argument.optional) text += "(optional) ";
      text += EscapeEpytext(argument.description) + kLineEnd;
    }
    text += "@type " + argument.name + ": " + EpytextReferenceText(argument.type) + kLineEnd;
  }
  if (endpoint.returns.kind != ApiKind::kNone) {
    text += "@rtype: " + EpytextReferenceText(endpoint.returns) + kLineEnd;
  }
  AppendTags(text, endpoint.tags);
  if (endpoint.threadSafe) text += std::string("@threadsafe: true") + kLineEnd;
  if (!endpoint.asyncResultType.empty()) {
    text += "@async: " + EpytextReferenceText(endpoint.returns) + kLineEnd;
  }
  return text;
}

std::string EpytextTypeText(const ApiType& type) {
  std::string text;
  AppendParagraph(text, type.description);
  if (!type.isEnum) {
    for (const ApiField& field : type.fields) {
      // Field descriptions are written as stored, unescaped.
      text += "@ivar " + field.name + ": " + field.description + kLineEnd;
      text += "@type " + field.name + ": " + EpytextReferenceText(field.type) + kLineEnd;
    }
    AppendTags(text, type.tags);
    return text;
  }
  std::vector<const ApiEnumValue*> byValue;
  byValue.reserve(type.values.size());
  for (const ApiEnumValue& value : type.values) byValue.push_back(&value);
  // Stable: enumerators of equal value keep their name order.
  std::stable_sort(byValue.begin(), byValue.end(),
                   [](const ApiEnumValue* left, const ApiEnumValue* right) {
                     return left->value < right->value;
                   });
  for (const ApiEnumValue* value : byValue) {
    text += "@cvar " + value->name + ": (" + std::to_string(value->value) + ")";
    if (!value->description.empty()) text += " " + value->description;
    text += kLineEnd;
  }
  AppendTags(text, type.tags);
  text += "@size: " + std::to_string(type.size) + kLineEnd;
  return text;
}

std::string EpytextEventText(const ApiEvent& event) {
  // The description paragraph is written even when it is empty.
  std::string text = EscapeEpytext(event.description) + kParagraphEnd;
  AppendTags(text, event.tags);
  return text;
}

void NativeHelp(const ApiDescription& api, rapidjson::Document& out) {
  out.SetObject();
  AddList(out, "functions", api.endpoints,
          [](rapidjson::Value& list, const ApiEndpoint& endpoint, Allocator& allocator) {
            AppendHelp(list, FunctionHelp(endpoint, allocator), allocator);
          });
  AddList(out, "types", api.types,
          [](rapidjson::Value& list, const ApiType& type, Allocator& allocator) {
            AppendHelp(list, TypeHelp(type, allocator), allocator);
          });
  AddList(out, "events", api.events,
          [](rapidjson::Value& list, const ApiEvent& event, Allocator& allocator) {
            AppendHelp(list, EventHelp(event, allocator), allocator);
          });
}

void EpytextHelp(const ApiDescription& api, rapidjson::Document& out) {
  out.SetObject();
  AddList(out, "functions", api.endpoints,
          [](rapidjson::Value& list, const ApiEndpoint& endpoint, Allocator& allocator) {
            SetText(list, endpoint.name, EpytextEndpointText(endpoint), allocator);
          });
  AddList(out, "types", api.types,
          [](rapidjson::Value& list, const ApiType& type, Allocator& allocator) {
            SetText(list, type.name, EpytextTypeText(type), allocator);
          });
  AddList(out, "events", api.events,
          [](rapidjson::Value& list, const ApiEvent& event, Allocator& allocator) {
            SetText(list, event.name, EpytextEventText(event), allocator);
          });
}

std::string JsonText(const rapidjson::Value& value, bool pretty) {
  rapidjson::StringBuffer buffer;
  if (pretty) {
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
    writer.SetIndent(' ', 2);
    value.Accept(writer);
  } else {
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    value.Accept(writer);
  }
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace Kavren::Host
