// The registry of described types, functions and events of one application module.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "binding/descriptors.h"
#include "binding/native_field.h"
#include "binding/type_identity.h"

namespace Kavren {

/// One argument of a registered function.
struct FunctionArgument {
  std::string name;
  std::string description;
  TypeRef type;
  bool optional = false;
  /// Where the routing layer takes the argument from (0 = anywhere).
  std::int32_t location = 0;
};

/// A registered function. The routing layer derives its endpoint records (URL template,
/// method, handler) from it; the registry owns the record and destroys it, handler
/// included, when the function is removed.
struct FunctionRecord {
  FunctionRecord() = default;
  FunctionRecord(const FunctionRecord&) = delete;
  FunctionRecord& operator=(const FunctionRecord&) = delete;
  virtual ~FunctionRecord() = default;

  std::string name;
  std::string nameSpace;
  std::vector<FunctionArgument> arguments;
  /// kind kNone when the function returns nothing.
  TypeRef returnType;
  std::string description;
  std::string help;
  bool threadSafe = false;
  bool async = false;
  std::vector<std::string> tags;
};

/// A registered event: its name and the descriptor of its payload type.
struct EventRecord {
  std::string name;
  /// Null when the payload type was not registered when the event was.
  const TypeDescriptor* payload = nullptr;
  std::string nameSpace;
  std::string description;
  std::vector<std::string> tags;
};

namespace detail {

/// The byte offset of a data member, without requiring a standard-layout record (where
/// offsetof is not defined). Only an address is computed; no object is made or read.
template <class Record, class F>
std::size_t MemberOffset(F Record::*member) {
  union Storage {
    Storage() {}
    ~Storage() {}
    Record object;
  };
  alignas(Record) static unsigned char bytes[sizeof(Storage)];
  auto* storage = reinterpret_cast<Storage*>(bytes);
  return static_cast<std::size_t>(
      reinterpret_cast<const unsigned char*>(&(storage->object.*member)) - bytes);
}

}  // namespace detail

class BindingRegistry;

/// Describes a type being registered; every call returns the builder, and every call
/// does nothing when the name was registered before (`alreadyRegistered`).
class TypeBuilder {
 public:
  TypeBuilder(BindingRegistry* registry, TypeDescriptor* descriptor, bool alreadyRegistered)
      : registry_(registry), descriptor_(descriptor), alreadyRegistered_(alreadyRegistered) {}

  /// Appends a field of native type F at `offset` of the record. F is one of the native
  /// field types of the binding layer: bool, the fixed-width integers, float, double,
  /// std::string, BindingProperty, std::vector<std::uint8_t> (blob), a registered
  /// enumeration or record, std::vector or std::unordered_map<std::string, X> of any of
  /// these, or std::optional of any of these.
  template <class F>
  TypeBuilder& AddField(const char* name, std::size_t offset, const char* description = "",
                        std::uint32_t flags = 0, TypeRef auxType = {});

  /// As above, with the offset taken from a pointer to the record's member.
  template <class Record, class F>
  TypeBuilder& AddField(const char* name, F Record::*member, const char* description = "",
                        std::uint32_t flags = 0, TypeRef auxType = {}) {
    return AddField<F>(name, detail::MemberOffset(member), description, flags, auxType);
  }

  /// Appends a field with a hand-made accessor (callbacks and other special kinds).
  TypeBuilder& AddCustomField(const char* name, std::size_t offset, const char* description,
                              std::uint32_t flags, TypeRef auxType, const TypeIdentity* identity,
                              TypeRef type, std::unique_ptr<FieldAccessor> accessor,
                              bool optional = false);

  /// Adds an enumerator; an existing name gets the new number and description.
  TypeBuilder& AddValue(const char* name, std::int32_t value, const char* description = "");
  TypeBuilder& SetDescription(const char* text);
  /// Ignored when `text` is empty.
  TypeBuilder& AddTag(const char* text);
  TypeBuilder& AddTags(std::initializer_list<const char*> texts);

  bool alreadyRegistered() const { return alreadyRegistered_; }
  TypeDescriptor* descriptor() const { return descriptor_; }
  std::uint32_t lastOffset() const { return lastOffset_; }

 private:
  BindingRegistry* registry_;
  TypeDescriptor* descriptor_;
  std::uint32_t lastOffset_ = 0;
  bool alreadyRegistered_;
};

/// Describes an event being registered; calls are ignored when the name existed before.
class EventBuilder {
 public:
  EventBuilder(EventRecord* record, bool alreadyRegistered)
      : record_(record), alreadyRegistered_(alreadyRegistered) {}

  EventBuilder& SetDescription(const char* text);
  /// Ignored when `text` is empty.
  EventBuilder& AddTag(const char* text);

  bool alreadyRegistered() const { return alreadyRegistered_; }
  EventRecord* record() const { return record_; }

 private:
  EventRecord* record_;
  bool alreadyRegistered_;
};

/// Types, functions and events of one application module. Lookups, insertions and
/// snapshots are safe from any thread; field, value, description and tag changes and
/// the unregistration loops run during module start, before other threads call in.
class BindingRegistry {
 public:
  /// Registers the built-in help, asynchronous-operation and event types (the formats
  /// layer provides it; the registry cannot depend on that layer).
  using BuiltinRegistration = void (*)(BindingRegistry& registry);

  template <class Name>
  using NameTable = std::map<std::string, const Name*, std::less<>>;

  BindingRegistry() = default;
  BindingRegistry(const BindingRegistry&) = delete;
  BindingRegistry& operator=(const BindingRegistry&) = delete;
  ~BindingRegistry();

  /// Registers record T under `name`; the first registration of a name wins.
  template <class T>
  TypeBuilder RegisterStruct(const char* name) {
    static_assert(std::is_class_v<T>, "RegisterStruct takes a record type");
    return RegisterType(name, static_cast<std::uint32_t>(sizeof(T)), false,
                        StaticType::HashCode<T>());
  }
  /// Registers enumeration T (1, 2, 4 or 8 bytes wide) under `name`.
  template <class T>
  TypeBuilder RegisterEnum(const char* name) {
    static_assert(std::is_enum_v<T>, "RegisterEnum takes an enumeration");
    return RegisterType(name, static_cast<std::uint32_t>(sizeof(T)), true,
                        StaticType::HashCode<T>());
  }
  /// The registration behind RegisterStruct and RegisterEnum.
  TypeBuilder RegisterType(const char* name, std::uint32_t size, bool isEnum,
                           const TypeIdentity* identity);

  /// Registers an event whose payload is the registered type P.
  template <class P>
  EventBuilder RegisterEvent(const char* name) {
    return RegisterEventWithPayload(name, FindType(StaticType::HashCode<P>()));
  }
  /// Registers an event with the given payload descriptor (may be null).
  EventBuilder RegisterEventWithPayload(const char* name, const TypeDescriptor* payload);

  /// Enters `record` under its name (replacing a record of that name) and counts the change.
  void AddFunction(std::unique_ptr<FunctionRecord> record);
  /// Removes and destroys the named function; false when there is none.
  bool RemoveFunction(const std::string& name);
  /// Incremented by every addition and removal of a function.
  std::uint32_t FunctionChangeCount() const;

  const TypeDescriptor* FindType(const std::string& name) const;
  const TypeDescriptor* FindType(const TypeIdentity* identity) const;
  const FunctionRecord* FindFunction(const std::string& name) const;
  const EventRecord* FindEvent(const std::string& name) const;

  /// Copies of the name tables, taken under the lock, ordered by name. The pointers are
  /// valid while the entries stay registered.
  NameTable<TypeDescriptor> TypesSnapshot() const;
  NameTable<FunctionRecord> FunctionsSnapshot() const;
  NameTable<EventRecord> EventsSnapshot() const;

  /// The name of the first enumerator, in name order, whose value is `number`; null
  /// when there is none or the identity has no descriptor.
  const char* EnumValueName(const TypeIdentity* identity, std::int32_t number) const;

  /// Unregistering destroys the entry; pointers to it become invalid.
  bool UnregisterType(const std::string& name);
  bool UnregisterEvent(const std::string& name);
  void UnregisterAllTypes();
  void UnregisterAllEvents();
  void UnregisterAllFunctions();

  /// Module start: clears a registry that was initialised before (events, types, then
  /// functions), runs `builtins` (when given), registers the event "OnCallback" with
  /// the payload "BindingCallbackEvent", and marks the registry initialised.
  void Reinitialise(BuiltinRegistration builtins);
  bool initialised() const { return initialised_; }

 private:
  // Guards the four tables and the function counter.
  mutable std::mutex lock_;
  std::unordered_map<std::string, std::unique_ptr<TypeDescriptor>> typesByName_;
  std::map<std::uint32_t, TypeDescriptor*> typesByCode_;
  std::unordered_map<std::string, std::unique_ptr<FunctionRecord>> functionsByName_;
  std::uint32_t functionChanges_ = 0;
  std::unordered_map<std::string, std::unique_ptr<EventRecord>> eventsByName_;
  bool initialised_ = false;
};

template <class F>
TypeBuilder& TypeBuilder::AddField(const char* name, std::size_t offset, const char* description,
                                   std::uint32_t flags, TypeRef auxType) {
  if (alreadyRegistered_) return *this;
  using Native = detail::NativeField<F>;
  TypeRef type{Native::kKind, Native::kElementKind, nullptr};
  if constexpr (!std::is_void_v<typename Native::Described>) {
    type.descriptor = registry_->FindType(StaticType::HashCode<typename Native::Described>());
  }
  return AddCustomField(name, offset, description, flags, auxType, StaticType::HashCode<F>(), type,
                        std::make_unique<detail::NativeFieldAccessor<F>>(), Native::kOptional);
}

}  // namespace Kavren
