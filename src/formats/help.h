// The API help provider: the registry's functions, types and events described as one value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "binding/registry.h"
#include "binding/type_identity.h"
#include "binding/value.h"

namespace Kavren {

/// Describes a module's API from its registry, either as help records converted to values
/// (the native form) or as one epytext text per item. Keeps no state.
class BindingHelpProvider {
 public:
  /// Registered as "BindingHelpFormat".
  enum class HelpFormat : std::int32_t {
    kFull = 1,
    kEpytext = 2,
  };

  // The help records, registered as "BindingFull..." (see RegisterHelpTypes).

  /// A type reference as texts: the type and, for vectors and maps, the element type.
  struct FullTypeIdentifier {
    std::string type;
    std::string elementType;
  };
  struct FullArgumentHelp {
    std::string name;
    std::string description;
    FullTypeIdentifier type;
    bool optional = false;
  };
  struct FullFunctionHelp {
    std::string name;
    std::string nameSpace;
    std::vector<FullArgumentHelp> arguments;
    FullTypeIdentifier returns;
    std::string description;
    std::string help;
    bool threadSafe = false;
    /// The returned type's name for an asynchronous function, otherwise empty.
    std::string async;
    std::vector<std::string> tags;
  };
  struct FullEnumValueHelp {
    std::string name;
    std::string description;
    std::int32_t value = 0;
  };
  struct FullFieldHelp {
    std::string name;
    std::string description;
    std::uint32_t offset = 0;
    FullTypeIdentifier type;
    bool optional = false;
  };
  struct FullTypeHelp {
    std::string name;
    std::string nameSpace;
    std::uint32_t size = 0;
    std::string description;
    std::vector<std::string> tags;
    /// Records only, in field order.
    std::vector<FullFieldHelp> fields;
    /// Enumerations only, by name.
    std::vector<FullEnumValueHelp> values;
  };
  struct FullEventHelp {
    std::string name;
    std::string nameSpace;
    /// The payload type; both texts are empty when the payload type is not registered.
    FullTypeIdentifier type;
    std::string description;
    std::vector<std::string> tags;
  };
  struct FullApiHelp {
    std::vector<FullFunctionHelp> functions;
    std::vector<FullTypeHelp> types;
    std::vector<FullEventHelp> events;
  };

  /// Fills the members "functions", "types" and "events" of `out` (made a structure; each
  /// member added if absent) from the three lists, each sorted by name. "Full" appends one
  /// converted help record per item (an element stays empty when its help record type is
  /// not registered in `registry`); "Epytext" sets one string member per item, named after
  /// the item; any other format adds nothing. A list with no items leaves its member
  /// empty. Null entries are skipped.
  static void DescribeApi(BindingProperty& out,
                          const BindingRegistry::NameTable<FunctionRecord>& functions,
                          const BindingRegistry::NameTable<TypeDescriptor>& types,
                          const BindingRegistry::NameTable<EventRecord>& events, HelpFormat format,
                          const BindingRegistry& registry);

  /// The native form of everything `registry` holds (its three snapshots).
  [[nodiscard]] static BindingResult DescribeRegistry(const BindingRegistry& registry);

  // The native help records of single items.

  static FullTypeIdentifier TypeIdentifier(const TypeRef& type);
  /// "async" is the return type's registered name for an asynchronous function (its type
  /// text when the return type has no descriptor).
  static FullFunctionHelp FunctionHelp(const FunctionRecord& function);
  static FullTypeHelp TypeHelp(const TypeDescriptor& type);
  static FullEventHelp EventHelp(const EventRecord& event);
};

/// Registers "BindingHelpFormat" and the eight help records, in that order, each tagged
/// "$builtin" and "help". Names registered before are left as they are.
void RegisterHelpTypes(BindingRegistry& registry);

/// Answers a function of the "$builtin" name space: "Help" gives the native form of the
/// registry's API; any other name fails with "Unsupported builtin function".
[[nodiscard]] BindingResult CallBuiltinFunction(std::string_view name,
                                                const BindingRegistry& registry);

}  // namespace Kavren

HXA_BINDING_ENUM(Kavren::BindingHelpProvider::HelpFormat);
HXA_BINDING_STRUCT(Kavren::BindingHelpProvider::FullTypeIdentifier);
HXA_BINDING_STRUCT(Kavren::BindingHelpProvider::FullArgumentHelp);
HXA_BINDING_STRUCT(Kavren::BindingHelpProvider::FullFunctionHelp);
HXA_BINDING_STRUCT(Kavren::BindingHelpProvider::FullEnumValueHelp);
HXA_BINDING_STRUCT(Kavren::BindingHelpProvider::FullFieldHelp);
HXA_BINDING_STRUCT(Kavren::BindingHelpProvider::FullTypeHelp);
HXA_BINDING_STRUCT(Kavren::BindingHelpProvider::FullEventHelp);
HXA_BINDING_STRUCT(Kavren::BindingHelpProvider::FullApiHelp);
