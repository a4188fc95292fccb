// The builtin Help function's reply, read back one type or event at a time.
#include <gtest/gtest.h>

#include "formats/help.h"
#include "support/help_reply.h"

namespace Kavren::Testing {
namespace {

const BindingProperty* Named(const BindingProperty& list, std::string_view name) {
  for (const BindingProperty& element : list.Elements()) {
    if (element.Find("name").GetString() == name) return &element;
  }
  return nullptr;
}

std::string Text(const BindingProperty& value, const char* member) {
  return std::string(value.Find(member).GetString());
}

std::string QualifiedName(const BindingProperty& item) {
  const std::string nameSpace = Text(item, "nameSpace");
  return (nameSpace.empty() ? "" : nameSpace + ".") + Text(item, "name");
}

std::string TypeText(const BindingProperty& identifier) {
  const std::string element = Text(identifier, "elementType");
  return Text(identifier, "type") + (element.empty() ? "" : "<" + element + ">");
}

std::string Described(const BindingProperty& item) {
  const std::string description = Text(item, "description");
  return description.empty() ? "" : " \"" + description + "\"";
}

std::string Tags(const BindingProperty& item) {
  std::string tags;
  for (const BindingProperty& tag : item.Find("tags").Elements()) {
    tags += (tags.empty() ? " [" : ", ") + std::string(tag.GetString());
  }
  return tags.empty() ? "" : tags + "]";
}

}  // namespace

HelpReply::HelpReply(BindingRegistry& registry) {
  RegisterHelpTypes(registry);
  reply_ = CallBuiltinFunction("Help", registry);
  EXPECT_TRUE(reply_.ok) << reply_.ErrorText();
}

std::string HelpReply::Type(std::string_view name) const {
  const BindingProperty* type = Named(reply_.value.Find("types"), name);
  if (type == nullptr) return "no type " + std::string(name);
  std::string line = QualifiedName(*type);
  const auto values = type->Find("values").Elements();
  if (!values.empty()) {
    line += "{";
    for (const BindingProperty& value : values) {
      if (&value != values.data()) line += ", ";
      line += Text(value, "name") + "=" + std::to_string(value.Find("value").GetSigned()) +
              Described(value);
    }
    line += "} size " + std::to_string(type->Find("size").GetUnsigned());
  } else {
    line += "(";
    for (const BindingProperty& field : type->Find("fields").Elements()) {
      if (line.back() != '(') line += ", ";
      line += Text(field, "name") + (field.Find("optional").GetBool() ? "?:" : ":") +
              TypeText(field.Find("type")) + Described(field);
    }
    line += ")";
  }
  return line + Described(*type) + Tags(*type);
}

std::string HelpReply::Event(std::string_view name) const {
  const BindingProperty* event = Named(reply_.value.Find("events"), name);
  if (event == nullptr) return "no event " + std::string(name);
  return QualifiedName(*event) + "(" + TypeText(event->Find("type")) + ")" + Described(*event) +
         Tags(*event);
}

std::size_t HelpReply::EventCount() const { return reply_.value.Find("events").Size(); }

}  // namespace Kavren::Testing
