// Server-class associations of registered records, and "__class" tagging of their values.
#include "plugin/server_class.h"

namespace Kavren {

void ServerClassTable::Associate(std::string_view registeredName, const TypeIdentity* identity,
                                 std::string_view serverClass) {
  std::lock_guard<std::mutex> guard(lock_);
  byName_.insert_or_assign(std::string(registeredName), std::string(serverClass));
  if (identity != nullptr) byType_.insert_or_assign(identity->hashCode, std::string(serverClass));
}

std::optional<std::string> ServerClassTable::ClassForName(std::string_view registeredName) const {
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = byName_.find(registeredName);
  if (found == byName_.end()) return std::nullopt;
  return found->second;
}

std::optional<std::string> ServerClassTable::ClassForType(const TypeIdentity* identity) const {
  if (identity == nullptr) return std::nullopt;
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = byType_.find(identity->hashCode);
  if (found == byType_.end()) return std::nullopt;
  return found->second;
}

void ServerClassTable::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  byName_.clear();
  byType_.clear();
}

namespace {

void TagFields(BindingProperty& record, const TypeDescriptor& descriptor,
               const ServerClassTable& classes) {
  for (const FieldDescriptor& field : descriptor.fields) {
    if (!record.Has(field.name)) continue;
    TagServerClass(record.Member(field.name), field.type, classes);
  }
}

// Sets the class on one record value and tags its fields. A value that is not a
// structure is left alone: making it one would throw its content away.
void TagRecord(BindingProperty& record, const std::string& serverClass,
               const TypeDescriptor& descriptor, const ServerClassTable& classes) {
  if (!record.Is(ValueKind::kStructure)) return;
  record.Member(kServerClassMember).SetString(std::string_view(serverClass));
  TagFields(record, descriptor, classes);
}

}  // namespace

void TagServerClass(BindingProperty& value, const TypeRef& type, const ServerClassTable& classes) {
  if (type.descriptor == nullptr || type.descriptor->isEnum) return;
  const std::optional<std::string> serverClass = classes.ClassForName(type.descriptor->name);
  if (!serverClass) return;
  switch (type.kind) {
    case TypeKind::kVector:
      for (BindingProperty& element : value.Elements()) {
        TagRecord(element, *serverClass, *type.descriptor, classes);
      }
      return;
    case TypeKind::kMap:
      value.ForEachMember([&](std::string_view, BindingProperty& member) {
        TagRecord(member, *serverClass, *type.descriptor, classes);
      });
      return;
    default:
      TagRecord(value, *serverClass, *type.descriptor, classes);
      return;
  }
}

void TagServerClass(BindingProperty& value, const TypeDescriptor& descriptor,
                    const ServerClassTable& classes) {
  TagServerClass(value, TypeRef{TypeKind::kStruct, TypeKind::kNone, &descriptor}, classes);
}

}  // namespace Kavren
