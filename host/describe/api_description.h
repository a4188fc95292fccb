// The plugin's API block copied out of its packed records into plain host-side values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "abi/api_block.h"
#include "abi/type_kind.h"

namespace Kavren::Host {

/// Kind codes of the API block (the plugin registry's type kinds).
using ApiKind = Abi::TypeKind;

/// "bool" .. "map" for the kinds 1 to 19, "" for any other.
[[nodiscard]] const char* ApiKindName(ApiKind kind);

/// How a field, argument or return value refers to its type. `typeName` names the
/// registered enumeration or record (of the elements, for vectors and maps); "" when
/// there is none.
struct ApiTypeReference {
  ApiKind kind = ApiKind::kNone;
  ApiKind elementKind = ApiKind::kNone;
  std::string typeName;
};

/// Argument locations of the router: where a parameter may come from.
inline constexpr std::int32_t kLocationAnywhere = 0;
inline constexpr std::int32_t kLocationQuery = 1;
inline constexpr std::int32_t kLocationPath = 2;
inline constexpr std::int32_t kLocationHeader = 4;
inline constexpr std::int32_t kLocationBody = 5;

struct ApiArgument {
  std::string name;
  std::string description;
  ApiTypeReference type;
  bool optional = false;
  std::int32_t location = kLocationAnywhere;
};

/// One endpoint: its function's description and its routing.
struct ApiEndpoint {
  std::string name;
  std::string nameSpace;
  std::vector<ApiArgument> arguments;
  /// Kind kNone when the function returns nothing.
  ApiTypeReference returns;
  std::string description;
  std::string help;
  bool threadSafe = false;
  /// "" when the function is not asynchronous.
  std::string asyncResultType;
  std::vector<std::string> tags;
  /// May be empty: the router then matches the function name itself.
  std::string urlTemplate;
  /// Method code 1 to 8 (8: `customMethod`), 0 for every method.
  std::int32_t method = 0;
  std::string customMethod;
};

struct ApiField {
  std::string name;
  std::string description;
  std::uint32_t offset = 0;
  ApiTypeReference type;
  bool optional = false;
};

struct ApiEnumValue {
  std::string name;
  std::string description;
  std::int32_t value = 0;
};

/// A registered record (`fields`) or enumeration (`values`, in the registry's name order).
struct ApiType {
  std::string name;
  std::string nameSpace;
  std::uint32_t size = 0;
  std::string description;
  std::vector<std::string> tags;
  bool isEnum = false;
  std::vector<ApiField> fields;
  std::vector<ApiEnumValue> values;
};

struct ApiEvent {
  std::string name;
  std::string nameSpace;
  /// "" when the payload type is not registered.
  std::string payloadTypeName;
  std::string description;
  std::vector<std::string> tags;
};

/// Everything the block describes, in block order.
struct ApiDescription {
  std::vector<ApiEndpoint> endpoints;
  std::vector<ApiType> types;
  std::vector<ApiEvent> events;
};

/// Copies the block (null: an empty description). Lists are walked by their links and
/// never past their counts; null texts read as "". A type with neither fields nor values
/// is an enumeration when some reference names it as one, else a record.
[[nodiscard]] ApiDescription ReadApiDescription(const Abi::PluginApiBlock* block);

}  // namespace Kavren::Host
