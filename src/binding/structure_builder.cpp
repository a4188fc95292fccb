// StructureBuilder: members appended in document order, put into key order when it is cheap.
#include "binding/structure_builder.h"

#include <algorithm>

namespace Kavren {

using detail::InternedText;
using detail::MemberSlot;
using detail::MemberSlots;
using detail::StructureStorage;

namespace {

bool IsContainer(const BindingProperty& value) {
  return value.Is(ValueKind::kCollection) || value.Is(ValueKind::kStructure);
}

// The slot of `key` among the first `count` members, which are in key order. Keys of one
// tree are interned in its pool, so the slot found holds the same entry or another text.
MemberSlot* FindInOrder(const StructureStorage& members, std::uint32_t count,
                        const InternedText* key, std::uint64_t& examined) noexcept {
  const std::uint32_t end = count;
  std::uint32_t low = 0;
  while (count > 0) {
    ++examined;
    const std::uint32_t half = count / 2;
    if (TextLess(*members.slots[low + half].key, *key)) {
      low += half + 1;
      count -= half + 1;
    } else {
      count = half;
    }
  }
  return low < end && members.slots[low].key == key ? &members.slots[low] : nullptr;
}

}  // namespace

StructureBuilder::~StructureBuilder() {
  try {
    CloseAll();
  } catch (...) {
    // Out of memory while ordering: the reader that owns the tree is failing anyway.
    Abandon();
  }
}

std::uint32_t StructureBuilder::Tag(const StructureStorage& members,
                                    const InternedText* key) noexcept {
  std::uint64_t hash =
      static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&members)) * 0x9E3779B97F4A7C15u ^
      static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(key)) * 0xC2B2AE3D27D4EB4Fu;
  hash ^= hash >> 29;
  hash *= 0xBF58476D1CE4E5B9u;
  hash ^= hash >> 32;
  const auto tag = static_cast<std::uint32_t>(hash);
  return tag == 0 ? 1 : tag;
}

MemberSlot* StructureBuilder::Lookup(const StructureStorage& members,
                                     const InternedText* key) const noexcept {
  const std::uint32_t ordered = members.size - members.unsorted;
  if (members.unsorted > kScannedMembers && !index_.empty()) {
    const std::uint32_t tag = Tag(members, key);
    const std::size_t mask = index_.size() - 1;
    for (std::size_t i = tag & mask; index_[i].tag != 0; i = (i + 1) & mask) {
      const IndexEntry& entry = index_[i];
      ++work_.slotsExamined;
      if (entry.tag == tag && entry.position < members.size &&
          members.slots[entry.position].key == key) {
        return &members.slots[entry.position];
      }
    }
  } else {
    for (std::uint32_t i = ordered; i < members.size; ++i) {
      ++work_.slotsExamined;
      if (members.slots[i].key == key) return &members.slots[i];
    }
  }
  return ordered == 0 ? nullptr : FindInOrder(members, ordered, key, work_.slotsExamined);
}

void StructureBuilder::ReserveIndex(std::size_t count) {
  const std::size_t wanted = indexUsed_ + count;
  if (wanted > written_.capacity()) written_.reserve(std::max(wanted, 2 * written_.capacity()));
  // At most three quarters full, so that probes stay short and always end.
  if (wanted * 4 <= index_.size() * 3) return;
  std::size_t size = index_.empty() ? 64 : index_.size() * 2;
  while (wanted * 4 > size * 3) size *= 2;
  std::vector<IndexEntry> grown(size, IndexEntry{0, 0});
  const std::size_t mask = size - 1;
  for (std::uint32_t& place : written_) {
    const IndexEntry& entry = index_[place];
    std::size_t i = entry.tag & mask;
    while (grown[i].tag != 0) i = (i + 1) & mask;
    grown[i] = entry;
    place = static_cast<std::uint32_t>(i);
  }
  index_.swap(grown);
}

void StructureBuilder::IndexMember(const StructureStorage& members,
                                   std::uint32_t position) noexcept {
  const std::uint32_t tag = Tag(members, members.slots[position].key);
  const std::size_t mask = index_.size() - 1;
  std::size_t i = tag & mask;
  while (index_[i].tag != 0) i = (i + 1) & mask;
  index_[i] = IndexEntry{tag, position};
  written_.push_back(static_cast<std::uint32_t>(i));  // room was reserved
  ++indexUsed_;
  ++liveIndexed_;
}

void StructureBuilder::ClearIndex() noexcept {
  for (const std::uint32_t place : written_) index_[place] = IndexEntry{0, 0};
  written_.clear();
  indexUsed_ = 0;
  liveIndexed_ = 0;
}

void StructureBuilder::Open(BindingProperty& structure) {
  open_.push_back({&structure, MemberSlots::Of(structure).size != 0});
}

BindingProperty& StructureBuilder::Member(std::string_view key) {
  return Member(detail::HashedText{key, detail::TextHash(key)});
}

BindingProperty& StructureBuilder::Member(const detail::HashedText& key) {
  BindingProperty& structure = *open_.back().structure;
  StructureStorage& members = MemberSlots::Of(structure);
  ValuePool& pool = *structure.Pool();
  const InternedText* entry = pool.Intern(key);
  if (MemberSlot* existing = Lookup(members, entry)) {
    pool.Release(entry);
    return *existing->value;
  }
  // Past the scanned count every unsorted member is indexed: all of them when the count
  // is first passed, each new one afterwards.
  const std::uint32_t unsorted = members.unsorted + 1;
  if (unsorted > kScannedMembers) {
    try {
      ReserveIndex(unsorted == kScannedMembers + 1 ? unsorted : 1);
    } catch (...) {
      pool.Release(entry);
      throw;
    }
  }
  BindingProperty& member = MemberSlots::AppendUnordered(structure, entry);
  if (unsorted == kScannedMembers + 1) {
    for (std::uint32_t i = members.size - unsorted; i < members.size; ++i) IndexMember(members, i);
  } else if (unsorted > kScannedMembers) {
    IndexMember(members, members.size - 1);
  }
  return member;
}

void StructureBuilder::Close() {
  const OpenStructure closing = open_.back();
  open_.pop_back();
  StructureStorage& members = MemberSlots::Of(*closing.structure);
  if (open_.empty()) {
    if (deferred_ == 0) {
      PutInOrder(members);
    } else {
      deferred_ = 0;
      PutTreeInOrder(*closing.structure);
    }
    // Everything is in order now.
    ClearIndex();
  } else if (members.unsorted != 0) {
    // A structure filled for the first time is ordered now, at the cost of its own members.
    // One filled again may be filled many more times while its parent stays open, and
    // merging its new members each time would cost its whole size each time.
    if (closing.reopened) {
      ++deferred_;
    } else {
      PutInOrder(members);
    }
  }
}

void StructureBuilder::PutInOrder(StructureStorage& members) noexcept {
  if (members.unsorted == 0) return;
  work_.membersOrdered += members.size;
  if (members.unsorted > kScannedMembers) {
    // Its entries are of no further use; once no structure has any, the index is emptied.
    liveIndexed_ -= std::min<std::size_t>(liveIndexed_, members.unsorted);
    if (liveIndexed_ == 0) ClearIndex();
  }
  MemberSlots::PutInOrder(members);
}

void StructureBuilder::CloseAll() {
  while (!open_.empty()) Close();
}

void StructureBuilder::Abandon() noexcept {
  open_.clear();
  deferred_ = 0;
  ClearIndex();
}

const BindingProperty* StructureBuilder::Find(const BindingProperty& structure,
                                              std::string_view key) const {
  if (!structure.Is(ValueKind::kStructure)) return nullptr;
  const InternedText* entry = key.empty() ? detail::EmptyText() : structure.Pool()->FindEntry(key);
  if (entry == nullptr) return nullptr;
  const MemberSlot* slot = Lookup(MemberSlots::Of(structure), entry);
  return slot != nullptr ? slot->value : nullptr;
}

void StructureBuilder::Settle(BindingProperty& value) { PutTreeInOrder(value); }

void StructureBuilder::PutTreeInOrder(BindingProperty& value) {
  std::vector<BindingProperty*> work;
  if (IsContainer(value)) work.push_back(&value);
  while (!work.empty()) {
    BindingProperty& next = *work.back();
    work.pop_back();
    if (next.Is(ValueKind::kCollection)) {
      for (BindingProperty& element : next.Elements()) {
        if (IsContainer(element)) work.push_back(&element);
      }
      continue;
    }
    StructureStorage& members = MemberSlots::Of(next);
    PutInOrder(members);
    for (std::uint32_t i = 0; i < members.size; ++i) {
      if (IsContainer(*members.slots[i].value)) work.push_back(members.slots[i].value);
    }
  }
}

}  // namespace Kavren
