// The type-kind codes of the API block's records: what kind of value an argument, a
// field, a function's result or a collection's element holds, with their names.
#pragma once

#include <cstdint>
#include <iterator>

namespace Kavren::Abi {

/// The 32-bit code of the `kind`, `elementKind` and `returnKind` words of the API
/// block's records; the registry's type kinds are the same codes.
enum class TypeKind : std::uint32_t {
  kNone = 0,
  kBool = 1,
  kInt8 = 2,
  kUint8 = 3,
  kInt16 = 4,
  kUint16 = 5,
  kInt32 = 6,
  kUint32 = 7,
  kInt64 = 8,
  kUint64 = 9,
  kFloat = 10,
  kDouble = 11,
  kString = 12,
  kObject = 13,
  kBlob = 14,
  kVector = 15,
  kEnum = 16,
  kStruct = 17,
  kCallback = 18,
  kMap = 19,
};

/// "bool" .. "map" for the kinds 1 to 19; the empty text for 0 and any unknown code.
[[nodiscard]] constexpr const char* TypeKindName(TypeKind kind) {
  constexpr const char* kNames[] = {
      "",       "bool",   "int8",   "uint8",  "int16",    "uint16", "int32",
      "uint32", "int64",  "uint64", "float",  "double",   "string", "object",
      "blob",   "vector", "enum",   "struct", "callback", "map",
  };
  const auto code = static_cast<std::uint32_t>(kind);
  return code < std::size(kNames) ? kNames[code] : "";
}

}  // namespace Kavren::Abi
