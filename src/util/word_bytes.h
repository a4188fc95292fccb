// Byte tests a machine word at a time (SWAR), for scans over texts.
#pragma once

#include <concepts>

namespace Kavren {

/// Non-zero exactly when one of `word`'s bytes is zero (the high bit of such a byte is set;
/// others may be too, above the first zero byte).
template <std::unsigned_integral Word>
[[nodiscard]] constexpr Word ZeroBytes(Word word) {
  constexpr Word kOnes = static_cast<Word>(~Word{0}) / 0xFF;
  return (word - kOnes) & ~word & (kOnes * 0x80);
}

/// Non-zero exactly when one of `word`'s bytes is below `limit` (at most 0x80).
template <std::unsigned_integral Word>
[[nodiscard]] constexpr Word BytesBelow(Word word, unsigned char limit) {
  constexpr Word kOnes = static_cast<Word>(~Word{0}) / 0xFF;
  return (word - kOnes * limit) & ~word & (kOnes * 0x80);
}

/// `byte` in every byte of a Word.
template <std::unsigned_integral Word>
[[nodiscard]] constexpr Word EveryByte(unsigned char byte) {
  return static_cast<Word>(~Word{0}) / 0xFF * byte;
}

}  // namespace Kavren
