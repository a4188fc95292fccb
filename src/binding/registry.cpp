// The registry of described types, functions and events, and the texts of type references.
#include "binding/registry.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace Kavren {

namespace {

std::string ElementText(TypeKind kind, const TypeDescriptor* descriptor) {
  return TypeRefText(TypeRef{kind, TypeKind::kNone, descriptor});
}

}  // namespace

std::string TypeRefText(const TypeRef& type) {
  switch (type.kind) {
    case TypeKind::kEnum:
    case TypeKind::kStruct:
      return type.descriptor != nullptr ? type.descriptor->name : TypeKindName(type.kind);
    default:
      return TypeKindName(type.kind);
  }
}

std::string TypeRefElementText(const TypeRef& type) {
  if (type.kind != TypeKind::kVector && type.kind != TypeKind::kMap) return {};
  return ElementText(type.elementKind, type.descriptor);
}

namespace detail {

const TypeDescriptor* FindDescriptor(const BindingRegistry& registry,
                                     const TypeIdentity* identity) {
  return registry.FindType(identity);
}

}  // namespace detail

TypeBuilder& TypeBuilder::AddCustomField(const char* name, std::size_t offset,
                                         const char* description, std::uint32_t flags,
                                         TypeRef auxType, const TypeIdentity* identity,
                                         TypeRef type, std::unique_ptr<FieldAccessor> accessor,
                                         bool optional) {
  if (alreadyRegistered_) return *this;
  // Fields are added during module start, before any other thread reads the descriptor.
  FieldDescriptor& field = descriptor_->fields.emplace_back();
  field.name = name;
  field.nameHash = HashText(name);
  field.description = description != nullptr ? description : "";
  field.identity = identity;
  field.offset = static_cast<std::uint32_t>(offset);
  field.type = type;
  if (auxType.kind != TypeKind::kNone) field.auxType = auxType;
  field.flags = flags;
  field.accessor = std::move(accessor);
  field.owner = descriptor_;
  field.optional = optional;
  lastOffset_ = field.offset;
  return *this;
}

TypeBuilder& TypeBuilder::AddValue(const char* name, std::int32_t value, const char* description) {
  if (alreadyRegistered_) return *this;
  EnumValueDescriptor& enumerator = descriptor_->values[name];
  enumerator.name = name;
  enumerator.value = value;
  enumerator.description = description != nullptr ? description : "";
  enumerator.owner = descriptor_;
  return *this;
}

TypeBuilder& TypeBuilder::SetDescription(const char* text) {
  if (!alreadyRegistered_) descriptor_->description = text != nullptr ? text : "";
  return *this;
}

TypeBuilder& TypeBuilder::AddTag(const char* text) {
  if (!alreadyRegistered_ && text != nullptr && *text != '\0') descriptor_->tags.emplace_back(text);
  return *this;
}

TypeBuilder& TypeBuilder::AddTags(std::initializer_list<const char*> texts) {
  for (const char* text : texts) AddTag(text);
  return *this;
}

EventBuilder& EventBuilder::SetDescription(const char* text) {
  if (!alreadyRegistered_) record_->description = text != nullptr ? text : "";
  return *this;
}

EventBuilder& EventBuilder::AddTag(const char* text) {
  if (!alreadyRegistered_ && text != nullptr && *text != '\0') record_->tags.emplace_back(text);
  return *this;
}

BindingRegistry::~BindingRegistry() = default;

TypeBuilder BindingRegistry::RegisterType(const char* name, std::uint32_t size, bool isEnum,
                                          const TypeIdentity* identity) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = typesByName_.find(name);
    if (found != typesByName_.end()) return TypeBuilder(this, found->second.get(), true);
  }
  auto descriptor = std::make_unique<TypeDescriptor>();
  descriptor->size = size;
  descriptor->isEnum = isEnum;
  descriptor->name = name;
  descriptor->identity = identity;
  descriptor->hashCode = identity->hashCode;
  descriptor->registry = this;
  TypeDescriptor* entry = descriptor.get();
  std::lock_guard<std::mutex> guard(lock_);
  // Another thread may have registered the name meanwhile: the first one still wins.
  const auto [slot, inserted] = typesByName_.try_emplace(name, std::move(descriptor));
  if (!inserted) return TypeBuilder(this, slot->second.get(), true);
  // A type without a native counterpart (the identity of void) is found by name only.
  if (entry->hashCode != StaticType::HashCode<void>()->hashCode) {
    typesByCode_[entry->hashCode] = entry;
  }
  return TypeBuilder(this, entry, false);
}

EventBuilder BindingRegistry::RegisterEventWithPayload(const char* name,
                                                       const TypeDescriptor* payload) {
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = eventsByName_.find(name);
  if (found != eventsByName_.end()) return EventBuilder(found->second.get(), true);
  auto record = std::make_unique<EventRecord>();
  record->name = name;
  record->payload = payload;
  EventRecord* entry = record.get();
  eventsByName_.emplace(name, std::move(record));
  return EventBuilder(entry, false);
}

void BindingRegistry::AddFunction(std::unique_ptr<FunctionRecord> record) {
  if (record == nullptr) return;
  std::unique_ptr<FunctionRecord> replaced;
  {
    std::lock_guard<std::mutex> guard(lock_);
    std::string name = record->name;
    std::unique_ptr<FunctionRecord>& slot = functionsByName_[std::move(name)];
    replaced = std::move(slot);
    slot = std::move(record);
    ++functionChanges_;
  }
}

bool BindingRegistry::RemoveFunction(const std::string& name) {
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = functionsByName_.find(name);
  if (found == functionsByName_.end()) return false;
  // The record and its handler are destroyed under the lock.
  functionsByName_.erase(found);
  ++functionChanges_;
  return true;
}

std::uint32_t BindingRegistry::FunctionChangeCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return functionChanges_;
}

const TypeDescriptor* BindingRegistry::FindType(const std::string& name) const {
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = typesByName_.find(name);
  return found != typesByName_.end() ? found->second.get() : nullptr;
}

const TypeDescriptor* BindingRegistry::FindType(const TypeIdentity* identity) const {
  if (identity == nullptr) return nullptr;
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = typesByCode_.find(identity->hashCode);
  return found != typesByCode_.end() ? found->second : nullptr;
}

const FunctionRecord* BindingRegistry::FindFunction(const std::string& name) const {
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = functionsByName_.find(name);
  return found != functionsByName_.end() ? found->second.get() : nullptr;
}

const EventRecord* BindingRegistry::FindEvent(const std::string& name) const {
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = eventsByName_.find(name);
  return found != eventsByName_.end() ? found->second.get() : nullptr;
}

namespace {

template <class Entry>
BindingRegistry::NameTable<Entry> Snapshot(
    const std::unordered_map<std::string, std::unique_ptr<Entry>>& table) {
  BindingRegistry::NameTable<Entry> copy;
  for (const auto& [name, entry] : table) copy.emplace(name, entry.get());
  return copy;
}

}  // namespace

BindingRegistry::NameTable<TypeDescriptor> BindingRegistry::TypesSnapshot() const {
  std::lock_guard<std::mutex> guard(lock_);
  return Snapshot(typesByName_);
}

BindingRegistry::NameTable<FunctionRecord> BindingRegistry::FunctionsSnapshot() const {
  std::lock_guard<std::mutex> guard(lock_);
  return Snapshot(functionsByName_);
}

BindingRegistry::NameTable<EventRecord> BindingRegistry::EventsSnapshot() const {
  std::lock_guard<std::mutex> guard(lock_);
  return Snapshot(eventsByName_);
}

const char* BindingRegistry::EnumValueName(const TypeIdentity* identity,
                                           std::int32_t number) const {
  const TypeDescriptor* descriptor = FindType(identity);
  if (descriptor == nullptr) return nullptr;
  for (const auto& [name, enumerator] : descriptor->values) {
    if (enumerator.value == number) return enumerator.name.c_str();
  }
  return nullptr;
}

bool BindingRegistry::UnregisterType(const std::string& name) {
  std::unique_ptr<TypeDescriptor> descriptor;
  {
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = typesByName_.find(name);
    if (found == typesByName_.end()) return false;
    descriptor = std::move(found->second);
    typesByName_.erase(found);
    const auto byCode = typesByCode_.find(descriptor->hashCode);
    // Another name may own the code entry now (two names, one code): leave it alone.
    if (byCode != typesByCode_.end() && byCode->second == descriptor.get()) {
      typesByCode_.erase(byCode);
    }
  }
  // Destroying the descriptor destroys every field's accessor.
  return true;
}

bool BindingRegistry::UnregisterEvent(const std::string& name) {
  std::lock_guard<std::mutex> guard(lock_);
  return eventsByName_.erase(name) != 0;
}

void BindingRegistry::UnregisterAllTypes() {
  std::unordered_map<std::string, std::unique_ptr<TypeDescriptor>> types;
  {
    std::lock_guard<std::mutex> guard(lock_);
    types.swap(typesByName_);
    typesByCode_.clear();
  }
}

void BindingRegistry::UnregisterAllEvents() {
  std::lock_guard<std::mutex> guard(lock_);
  eventsByName_.clear();
}

void BindingRegistry::UnregisterAllFunctions() {
  std::lock_guard<std::mutex> guard(lock_);
  functionChanges_ += static_cast<std::uint32_t>(functionsByName_.size());
  functionsByName_.clear();
}

void BindingRegistry::Reinitialise(BuiltinRegistration builtins) {
  if (initialised_) {
    UnregisterAllEvents();
    UnregisterAllTypes();
    UnregisterAllFunctions();
  }
  if (builtins != nullptr) builtins(*this);
  EventBuilder callback =
      RegisterEventWithPayload("OnCallback", FindType(std::string("BindingCallbackEvent")));
  callback.SetDescription("Fired when a callback is invoked.");
  // The tag is added even to a record registered by the built-ins (once).
  std::vector<std::string>& tags = callback.record()->tags;
  if (std::find(tags.begin(), tags.end(), "$builtin") == tags.end()) tags.emplace_back("$builtin");
  initialised_ = true;
}

}  // namespace Kavren
