// The group tag table: lock-free reads, registrations serialised.
#include "log/log_groups.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "log/messages.h"

namespace Kavren {
namespace {

struct GroupTable {
  GroupTable() noexcept {
    std::int32_t slot = 0;
    for (const char* tag : detail::kInitialGroupTags) std::memcpy(tags[slot++], tag, 4);
    lastInUse.store(slot - 1, std::memory_order_relaxed);
    for (; slot < kLogGroupSlots; ++slot) std::memcpy(tags[slot], detail::kFreeGroupTag, 4);
  }

  char tags[kLogGroupSlots][4];
  // Published with release after the slot is written, so a reader that sees
  // index i also sees the text of slot i.
  std::atomic<std::int32_t> lastInUse{0};
};

GroupTable& Table() noexcept {
  static GroupTable table;
  return table;
}

// Serialises registrations, so that two threads registering the same new tag
// get the same slot and no slot is written twice.
std::mutex& RegistrationMutex() noexcept {
  static std::mutex mutex;
  return mutex;
}

bool SameTag(const char* slot, const char* tag) noexcept { return std::strncmp(slot, tag, 3) == 0; }

std::int32_t FindTag(const GroupTable& table, std::int32_t last, const char* tag) noexcept {
  for (std::int32_t slot = 0; slot <= last; ++slot) {
    if (SameTag(table.tags[slot], tag)) return slot;
  }
  return -1;
}

std::uint64_t BitOf(std::int32_t slot) noexcept { return 1ULL << static_cast<unsigned>(slot); }

}  // namespace

std::uint64_t RegisterLogGroup(const char* tag) noexcept {
  if (tag == nullptr || tag[0] == '\0') return 0;
  GroupTable& table = Table();
  std::int32_t found = FindTag(table, table.lastInUse.load(std::memory_order_acquire), tag);
  if (found >= 0) return BitOf(found);

  std::lock_guard lock(RegistrationMutex());
  const std::int32_t last = table.lastInUse.load(std::memory_order_acquire);
  found = FindTag(table, last, tag);
  if (found >= 0) return BitOf(found);
  // The table has 64 slots; a 65th tag gets no bit rather than a slot outside it.
  if (last + 1 >= kLogGroupSlots) return 0;
  char* slot = table.tags[last + 1];
  std::size_t length = strnlen(tag, 3);
  std::memset(slot, 0, 4);
  std::memcpy(slot, tag, length);
  table.lastInUse.store(last + 1, std::memory_order_release);
  return BitOf(last + 1);
}

std::int32_t LastLogGroupInUse() noexcept {
  return Table().lastInUse.load(std::memory_order_acquire);
}

const char* LogGroupTag(std::int32_t index) noexcept {
  const GroupTable& table = Table();
  // Free slots are read as the constant tag: they may be written concurrently.
  if (index < 0 || index > table.lastInUse.load(std::memory_order_acquire)) {
    return detail::kFreeGroupTag;
  }
  return table.tags[index];
}

std::size_t LogGroupsToText(std::uint64_t mask, char* out, std::size_t capacity) noexcept {
  if (out == nullptr || capacity == 0) return 0;
  std::size_t length = 0;
  bool first = true;
  for (std::int32_t bit = 0; bit < kLogGroupSlots && mask != 0; ++bit) {
    if ((mask & BitOf(bit)) == 0) continue;
    mask &= ~BitOf(bit);
    if (!first && length + 1 < capacity) out[length++] = detail::kGroupSeparator;
    first = false;
    for (const char* tag = LogGroupTag(bit); *tag != '\0' && length + 1 < capacity; ++tag) {
      out[length++] = *tag;
    }
    if (length + 1 >= capacity) break;
  }
  out[length] = '\0';
  return length;
}

}  // namespace Kavren
