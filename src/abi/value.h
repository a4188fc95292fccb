// The host's value record and its structure member entry: values crossing the host boundary.
//
// On i386 (the reference ABI) a host value is three 32-bit words and a member entry 17
// bytes; on x64 every word is pointer-sized, in the same order. 64-bit integers and
// doubles always travel as their low 32 bits in `data` and their high 32 bits in `extra`,
// on both ABIs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "abi/host.h"

namespace Kavren::Abi {

/// `HostValue::type` numbers. Ownership: "borrowed" parts belong to whoever built the
/// record and are never freed by its receiver; "owned" parts are freed when the record
/// is released.
inline constexpr HostWord kHostValueEmpty = 0;
/// `data`: 0 or 1.
inline constexpr HostWord kHostValueBool = 1;
/// `data`: low 32 bits, `extra`: high 32 bits of the two's complement value.
inline constexpr HostWord kHostValueSigned = 2;
/// `data`: low 32 bits, `extra`: high 32 bits.
inline constexpr HostWord kHostValueUnsigned = 3;
/// `data`: low 32 bits, `extra`: high 32 bits of the IEEE 754 double's bit pattern.
inline constexpr HostWord kHostValueFloat = 4;
/// `data`: borrowed zero-terminated text.
inline constexpr HostWord kHostValueBorrowedString = 5;
/// `data`: owned zero-terminated text, `extra`: its length in bytes.
inline constexpr HostWord kHostValueOwnedString = 6;
/// `data`: borrowed bytes, `extra`: their count.
inline constexpr HostWord kHostValueBorrowedBlob = 7;
/// `data`: owned bytes, `extra`: their count.
inline constexpr HostWord kHostValueOwnedBlob = 8;
/// `data`: owned array of `extra` HostValue records.
inline constexpr HostWord kHostValueCollection = 9;
/// `data`: owned array of `extra` HostStructMember entries.
inline constexpr HostWord kHostValueStructure = 10;

#pragma pack(push, 1)

// HostValue (12 bytes on i386, 24 on x64).
//   0 type   u32 word, one of kHostValue*
//   4 data   word
//   8 extra  word
struct HostValue {
  HostWord type;
  HostWord data;
  HostWord extra;
};

// HostStructMember (17 bytes on i386, 33 on x64), packed in arrays without padding.
//   0 key       const char*, zero-terminated
//   4 value     HostValue (12 bytes)
//  16 keyOwned  u8, 1 when `key` is freed with the member
struct HostStructMember {
  const char* key;
  HostValue value;
  std::uint8_t keyOwned;
};

#pragma pack(pop)

#if defined(__i386__)
static_assert(sizeof(HostValue) == 12);
static_assert(offsetof(HostValue, data) == 4);
static_assert(offsetof(HostValue, extra) == 8);
static_assert(sizeof(HostStructMember) == 17);
static_assert(offsetof(HostStructMember, value) == 4);
static_assert(offsetof(HostStructMember, keyOwned) == 16);
#else
static_assert(sizeof(HostValue) == 3 * sizeof(HostWord));
static_assert(sizeof(HostStructMember) == sizeof(void*) + sizeof(HostValue) + 1);
#endif

}  // namespace Kavren::Abi
