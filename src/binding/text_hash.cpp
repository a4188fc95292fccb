// A multiply-and-fold hash under a per-process random key: the bucket hash of interned texts.
#include "binding/text_hash.h"

#include "util/platform.h"
#include "util/word_bytes.h"

namespace Kavren::detail {
namespace {

// Four random words; each keys a different step of the hash.
struct HashKey {
  std::uint64_t word[4];
};

std::uint64_t SplitMix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

HashKey MakeKey() {
  HashKey key{};
  if (!Platform::RandomBytes(&key, sizeof key)) {
    // No random source: the clock and where this process's code and stack were placed
    // still differ between runs, which is all a sender must not be able to predict.
    int local = 0;
    std::uint64_t state = Platform::HighResolutionCounter() ^
                          static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&local)) ^
                          static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&MakeKey))
                              << 17;
    for (std::uint64_t& word : key.word) word = SplitMix(state);
  }
  // Odd words: a product with one never loses the other factor's low bits.
  for (std::uint64_t& word : key.word) word |= 1;
  return key;
}

const HashKey& Key() {
  static const HashKey key = MakeKey();
  return key;
}

// The 128-bit product of two words, folded to one word (high half XOR low half).
std::uint64_t FoldedProduct(std::uint64_t a, std::uint64_t b) {
#if defined(__SIZEOF_INT128__)
  const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
#else
  const std::uint64_t aLow = a & 0xFFFFFFFFu;
  const std::uint64_t aHigh = a >> 32;
  const std::uint64_t bLow = b & 0xFFFFFFFFu;
  const std::uint64_t bHigh = b >> 32;
  const std::uint64_t low = aLow * bLow;
  const std::uint64_t middle1 = aHigh * bLow;
  const std::uint64_t middle2 = aLow * bHigh;
  const std::uint64_t high = aHigh * bHigh;
  const std::uint64_t carry =
      ((low >> 32) + (middle1 & 0xFFFFFFFFu) + (middle2 & 0xFFFFFFFFu)) >> 32;
  const std::uint64_t productLow = low + (middle1 << 32) + (middle2 << 32);
  const std::uint64_t productHigh = high + (middle1 >> 32) + (middle2 >> 32) + carry;
  return productLow ^ productHigh;
#endif
}

// Little-endian loads of 8 and 4 bytes, on any host.
std::uint64_t Load8(const unsigned char* bytes) {
  std::uint64_t word = 0;
  for (int i = 7; i >= 0; --i) word = (word << 8) | bytes[i];
  return word;
}
std::uint64_t Load4(const unsigned char* bytes) {
  return std::uint64_t{bytes[0]} | std::uint64_t{bytes[1]} << 8 | std::uint64_t{bytes[2]} << 16 |
         std::uint64_t{bytes[3]} << 24;
}

// Multiply-and-fold over 16-byte blocks; every block is mixed with key words, and the
// length enters the last step, so texts of different lengths part. With kWatchZero,
// `zero` tells whether one of the bytes was zero (the words loaded cover every byte).
template <bool kWatchZero>
std::uint32_t HashBytes(const unsigned char* bytes, std::size_t length, bool& zero) {
  const HashKey& key = Key();
  std::uint64_t state = key.word[0];
  std::uint64_t first;
  std::uint64_t second;
  std::uint64_t zeros = 0;
  if (length <= 16) {
    if (length >= 4) {
      // Two overlapping pairs of 4-byte loads cover 4 to 16 bytes.
      const std::size_t step = (length >> 3) << 2;
      first = Load4(bytes) << 32 | Load4(bytes + step);
      second = Load4(bytes + length - 4) << 32 | Load4(bytes + length - 4 - step);
      if (kWatchZero) zeros = ZeroBytes(first) | ZeroBytes(second);
    } else if (length > 0) {
      first = std::uint64_t{bytes[0]} << 16 | std::uint64_t{bytes[length >> 1]} << 8 |
              bytes[length - 1];
      second = 0;
      if (kWatchZero) zeros = bytes[0] == 0 || bytes[length >> 1] == 0 || bytes[length - 1] == 0;
    } else {
      first = 0;
      second = 0;
    }
  } else {
    std::size_t left = length;
    for (; left > 16; left -= 16, bytes += 16) {
      const std::uint64_t low = Load8(bytes);
      const std::uint64_t high = Load8(bytes + 8);
      if (kWatchZero) zeros |= ZeroBytes(low) | ZeroBytes(high);
      state = FoldedProduct(low ^ key.word[1], high ^ state);
    }
    first = Load8(bytes + left - 16);
    second = Load8(bytes + left - 8);
    if (kWatchZero) zeros |= ZeroBytes(first) | ZeroBytes(second);
  }
  if (kWatchZero) zero = zeros != 0;
  const std::uint64_t mixed = FoldedProduct(first ^ key.word[1], second ^ state);
  const std::uint64_t hash =
      FoldedProduct(mixed ^ key.word[2] ^ length, (first ^ second) ^ key.word[3]);
  return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

}  // namespace

std::uint32_t TextHash(std::string_view text) noexcept {
  bool unused = false;
  return HashBytes<false>(reinterpret_cast<const unsigned char*>(text.data()), text.size(), unused);
}

HashedText HashUntilZero(const char* text, std::size_t length) noexcept {
  // A zero byte is rare (only an escaped NUL makes one): the hash watches for one in the
  // words it reads anyway, and only then is the text cut and hashed again.
  bool zero = false;
  const std::uint32_t hash =
      HashBytes<true>(reinterpret_cast<const unsigned char*>(text), length, zero);
  if (!zero) return {std::string_view(text, length), hash};
  std::size_t end = 0;
  while (text[end] != '\0') ++end;
  const std::string_view taken(text, end);
  return {taken, TextHash(taken)};
}

}  // namespace Kavren::detail
