// KeyCache: a reader's recently interned member keys, found again without hashing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "binding/value_pool.h"

namespace Kavren::detail {

/// The keys a reader interned last, by their bytes: documents repeat a few keys thousands
/// of times (arrays of records), and a key found here costs one comparison of its bytes
/// instead of a hash and a search of the pool's entry set. Direct-mapped, indexed by the
/// key's length and a few of its bytes; a key that misses takes the pool's ordinary path
/// and replaces the slot's occupant.
///
/// The cache holds no references: its slots count only while the pool they came from keeps
/// its TextGeneration, so a freed entry (or another pool) empties it at once, and a cache
/// never needs to outlive or be cleared before a pool. Cached texts never hold a zero
/// byte, so a hit answers both kinds of lookup alike.
class KeyCache {
 public:
  static constexpr std::size_t kSlots = 512;

  KeyCache() = default;
  KeyCache(const KeyCache&) = delete;
  KeyCache& operator=(const KeyCache&) = delete;

  /// The counted entry of `pool` for the `length` bytes at `text` up to the first zero
  /// byte among them (the key as a reader takes it).
  [[nodiscard]] const InternedText* InternUpToZero(ValuePool& pool, const char* text,
                                                   std::size_t length);
  /// The counted entry of `pool` for all bytes of `text`.
  [[nodiscard]] const InternedText* Intern(ValuePool& pool, std::string_view text);

  /// Empties the cache.
  void Clear() noexcept;

  /// Lookups answered from the cache since it was made (tests).
  [[nodiscard]] std::uint64_t Hits() const noexcept { return hits_; }

 private:
  struct Slot {
    const InternedText* entry;
    std::uint32_t epoch;  // the slot counts while it equals epoch_
  };

  static std::size_t SlotOf(const char* text, std::size_t length) noexcept;
  // The cached entry of `pool` for exactly these bytes, counted once more; null when absent.
  const InternedText* Find(ValuePool& pool, std::size_t slot, const char* text,
                           std::size_t length) noexcept;
  // Keeps `entry` of `pool` (its text has no zero byte) in `slot`.
  void Keep(std::size_t slot, const InternedText* entry) noexcept;

  // The pool and generation the slots of epoch_ belong to.
  const ValuePool* pool_ = nullptr;
  std::uint64_t generation_ = 0;
  // Raised to empty every slot at once (0 is no slot's: they start empty).
  std::uint32_t epoch_ = 1;
  Slot slots_[kSlots] = {};
  std::uint64_t hits_ = 0;
};

}  // namespace Kavren::detail
