// The epytext texts of the API help.
#include "formats/help_epytext.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <vector>

#include "formats/help_messages.h"
#include "util/format.h"

namespace Kavren {

namespace {

using HelpMessages::kLineEnd;
using HelpMessages::kParagraphEnd;

// Indexed by TypeKind 1 to 14.
constexpr const char* kScalarTypeTexts[] = {
    "",      "bool",   "int8",  "uint8",  "int16",  "uint16", "int32",     "uint32",
    "int64", "uint64", "float", "double", "string", "object", "bytearray",
};

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

std::string RecordText(const TypeDescriptor& type) {
  std::string text;
  AppendParagraph(text, type.description);
  for (const FieldDescriptor& field : type.fields) {
    // Field descriptions are written as stored, unescaped.
    text += "@ivar " + field.name + ": " + field.description + kLineEnd;
    text += "@type " + field.name + ": " + EpytextTypeText(field.type) + kLineEnd;
  }
  AppendTags(text, type.tags);
  return text;
}

std::string EnumerationText(const TypeDescriptor& type) {
  std::string text;
  AppendParagraph(text, type.description);
  std::vector<const EnumValueDescriptor*> byValue;
  byValue.reserve(type.values.size());
  for (const auto& [name, enumerator] : type.values) byValue.push_back(&enumerator);
  // Stable: enumerators of equal value keep their name order.
  std::stable_sort(byValue.begin(), byValue.end(),
                   [](const EnumValueDescriptor* left, const EnumValueDescriptor* right) {
                     return left->value < right->value;
                   });
  for (const EnumValueDescriptor* enumerator : byValue) {
    text += "@cvar " + enumerator->name + ": (" + std::to_string(enumerator->value) + ")";
    if (!enumerator->description.empty()) text += " " + enumerator->description;
    text += kLineEnd;
  }
  AppendTags(text, type.tags);
  text += "@size: " + std::to_string(type.size) + kLineEnd;
  return text;
}

}  // namespace

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

std::string EpytextTypeText(const TypeRef& type) {
  const auto kind = static_cast<std::uint32_t>(type.kind);
  if (kind >= 1 && kind < std::size(kScalarTypeTexts)) return kScalarTypeTexts[kind];
  switch (type.kind) {
    case TypeKind::kVector:
    case TypeKind::kMap: {
      const std::string element =
          EpytextTypeText(TypeRef{type.elementKind, TypeKind::kNone, type.descriptor});
      return Format(
          type.kind == TypeKind::kVector ? HelpMessages::kListType : HelpMessages::kDictType,
          element);
    }
    case TypeKind::kEnum:
    case TypeKind::kStruct:
      // Without a descriptor there is nothing to link to: the kind's name stands alone.
      if (type.descriptor == nullptr) return TypeKindName(type.kind);
      return Format(HelpMessages::kLinkType, type.descriptor->name);
    case TypeKind::kCallback:
      return "callback";
    default:
      return {};
  }
}

std::string EpytextFunctionText(const FunctionRecord& function) {
  std::string text;
  AppendParagraph(text, function.description);
  AppendParagraph(text, function.help);
  for (const FunctionArgument& argument : function.arguments) {
    if (!argument.description.empty()) {
      text += "@param " + argument.name + ": ";
      if (argument.optional) text += "(optional) ";
      text += EscapeEpytext(argument.description) + kLineEnd;
    }
    text += "@type " + argument.name + ": " + EpytextTypeText(argument.type) + kLineEnd;
  }
  if (function.returnType.kind != TypeKind::kNone) {
    text += "@rtype: " + EpytextTypeText(function.returnType) + kLineEnd;
  }
  AppendTags(text, function.tags);
  if (function.threadSafe) text += std::string("@threadsafe: true") + kLineEnd;
  if (function.async) text += "@async: " + EpytextTypeText(function.returnType) + kLineEnd;
  return text;
}

std::string EpytextTypeHelpText(const TypeDescriptor& type) {
  return type.isEnum ? EnumerationText(type) : RecordText(type);
}

std::string EpytextEventText(const EventRecord& event) {
  // The description paragraph is written even when it is empty.
  std::string text = EscapeEpytext(event.description) + kParagraphEnd;
  AppendTags(text, event.tags);
  return text;
}

}  // namespace Kavren
