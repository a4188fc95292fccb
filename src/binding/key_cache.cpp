// KeyCache: direct-mapped slots of interned keys, checked by their bytes.
#include "binding/key_cache.h"

#include <cstring>

namespace Kavren::detail {

std::size_t KeyCache::SlotOf(const char* text, std::size_t length) noexcept {
  // The length and the bytes at both ends (the whole of a short key): enough to part the
  // few keys of a document. A sender who makes many keys share a slot only makes them miss.
  std::uint32_t bytes;
  if (length >= 4) {
    std::uint32_t head;
    std::uint32_t tail;
    std::memcpy(&head, text, sizeof head);
    std::memcpy(&tail, text + length - 4, sizeof tail);
    bytes = head ^ (tail << 7 | tail >> 25);
  } else {
    const auto* unsignedText = reinterpret_cast<const unsigned char*>(text);
    bytes = std::uint32_t{unsignedText[0]} | std::uint32_t{unsignedText[length >> 1]} << 8 |
            std::uint32_t{unsignedText[length - 1]} << 16;
  }
  const std::uint32_t mixed =
      (bytes + static_cast<std::uint32_t>(length) * 0x9E3779B1u) * 0x85EBCA6Bu;
  constexpr unsigned kSlotBits = 9;
  static_assert(std::size_t{1} << kSlotBits == kSlots);
  return mixed >> (32 - kSlotBits);
}

const InternedText* KeyCache::Find(ValuePool& pool, std::size_t slot, const char* text,
                                   std::size_t length) noexcept {
  if (&pool != pool_ || pool.TextGeneration() != generation_) {
    // Another pool, or an entry was freed since the slots were filled: none may be trusted.
    Clear();
    pool_ = &pool;
    generation_ = pool.TextGeneration();
    return nullptr;
  }
  const Slot& kept = slots_[slot];
  const InternedText* entry = kept.entry;
  if (kept.epoch != epoch_ || entry->length != length || !SameBytes(entry->bytes(), text, length)) {
    return nullptr;
  }
  ++hits_;
  ValuePool::AddReference(entry);
  return entry;
}

void KeyCache::Keep(std::size_t slot, const InternedText* entry) noexcept {
  slots_[slot] = Slot{entry, epoch_};
}

const InternedText* KeyCache::InternUpToZero(ValuePool& pool, const char* text,
                                             std::size_t length) {
  if (length == 0) return EmptyText();
  const std::size_t slot = SlotOf(text, length);
  if (const InternedText* hit = Find(pool, slot, text, length)) return hit;
  // One pass hashes the key and finds a zero byte in it; a key cut short is not kept.
  const HashedText hashed = HashUntilZero(text, length);
  const InternedText* entry = pool.Intern(hashed);
  if (hashed.text.size() == length) Keep(slot, entry);
  return entry;
}

const InternedText* KeyCache::Intern(ValuePool& pool, std::string_view text) {
  if (text.empty()) return EmptyText();
  const std::size_t slot = SlotOf(text.data(), text.size());
  if (const InternedText* hit = Find(pool, slot, text.data(), text.size())) return hit;
  const InternedText* entry = pool.Intern(text);
  if (std::memchr(text.data(), 0, text.size()) == nullptr) Keep(slot, entry);
  return entry;
}

void KeyCache::Clear() noexcept {
  if (++epoch_ == 0) {
    // Once in 2^32 clears the old epochs could come round again: the slots are emptied.
    for (Slot& slot : slots_) slot = Slot{nullptr, 0};
    epoch_ = 1;
  }
  pool_ = nullptr;
}

}  // namespace Kavren::detail
