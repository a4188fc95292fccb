// StructureBuilder: members appended in document order, put into key order when it is cheap.
#include "binding/structure_builder.h"

#include <algorithm>
#include <bit>

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
  ValuePool* pool = structure.Pool();
  if (open_.empty() && pool != pool_) {
    ForgetTree();
    pool_ = pool;
  }
  OpenStructure open{&structure, MemberSlots::Of(structure).size != 0, false, kNone, kNone,
                     nullptr};
  if (!open.reopened) {
    // Where the structure stands: its depth, and the key it is the value of (none for an
    // element), so that the members of sibling records each meet their own predecessor.
    const InternedText* parentKey = &structure == lastMember_ ? lastKey_ : nullptr;
    open.parentKey = parentKey;
    const auto depth = static_cast<std::uint32_t>(open_.size());
    std::uint64_t mixed = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(parentKey)) ^
                          std::uint64_t{depth} * 0x9E3779B97F4A7C15u;
    mixed *= 0xBF58476D1CE4E5B9u;
    const auto place = static_cast<std::uint32_t>((mixed >> 40) % kShapes);
    Shape& shape = shapes_[place];
    // A structure further out follows that shape: this one neither follows nor replaces it.
    if (!shape.followed) {
      open.shape = place;
      open.following = shape.depth == depth && shape.parentKey == parentKey && shape.count != 0 &&
                       shape.generation == pool->TextGeneration();
    }
  }
  open_.push_back(open);
  if (open.following) {
    shapes_[open.shape].followed = true;
    open_.back().outerFollowing = innerFollowing_;
    innerFollowing_ = static_cast<std::uint32_t>(open_.size() - 1);
  }
}

BindingProperty& StructureBuilder::Member(std::string_view key) {
  return Place(keys_.Intern(*open_.back().structure->Pool(), key));
}

BindingProperty& StructureBuilder::MemberUpToZero(const char* key, std::size_t length) {
  return Place(keys_.InternUpToZero(*open_.back().structure->Pool(), key, length));
}

BindingProperty& StructureBuilder::Member(const detail::HashedText& key) {
  return Place(open_.back().structure->Pool()->Intern(key));
}

void StructureBuilder::StopFollowing(OpenStructure& open) {
  StructureStorage& members = MemberSlots::Of(*open.structure);
  // Its members were appended without index entries; past the scanned count they need them.
  const bool index = members.unsorted > kScannedMembers;
  if (index) ReserveIndex(members.unsorted);
  open.following = false;
  shapes_[open.shape].followed = false;
  innerFollowing_ = open.outerFollowing;
  if (index) {
    for (std::uint32_t i = members.size - members.unsorted; i < members.size; ++i) {
      IndexMember(members, i);
    }
  }
}

void StructureBuilder::StopAllFollowing() {
  while (innerFollowing_ != kNone) StopFollowing(open_[innerFollowing_]);
}

BindingProperty& StructureBuilder::Place(const InternedText* entry) {
  OpenStructure& open = open_.back();
  BindingProperty& structure = *open.structure;
  StructureStorage& members = MemberSlots::Of(structure);
  ValuePool& pool = *structure.Pool();
  if (open.following) {
    // Every key so far was the shape's next one, so this one is new when it is the next
    // one again.
    const Shape& shape = shapes_[open.shape];
    if (members.size < shape.count && shapeMembers_[shape.offset + members.size].key == entry &&
        shape.generation == pool.TextGeneration()) {
      BindingProperty& member = MemberSlots::AppendUnordered(structure, entry);
      lastMember_ = &member;
      lastKey_ = entry;
      return member;
    }
    try {
      StopFollowing(open);
    } catch (...) {
      pool.Release(entry);
      throw;
    }
  }
  if (MemberSlot* existing = Lookup(members, entry)) {
    pool.Release(entry);
    lastMember_ = existing->value;
    lastKey_ = entry;
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
  lastMember_ = &member;
  lastKey_ = entry;
  return member;
}

void StructureBuilder::Close() {
  const OpenStructure closing = open_.back();
  open_.pop_back();
  StructureStorage& members = MemberSlots::Of(*closing.structure);
  if (closing.following) {
    innerFollowing_ = closing.outerFollowing;
    Shape& shape = shapes_[closing.shape];
    shape.followed = false;
    if (members.size == shape.count) {
      OrderByShape(members, shape);
    } else {
      // Fewer keys than the shape: ordered now, as any structure filled for the first time
      // is, so that no later ordering takes its members for indexed ones.
      PutInOrder(members, closing.shape, closing.parentKey, false);
    }
  }
  // Only a structure filled for the first time leaves its shape.
  const std::uint32_t shape = closing.reopened ? kNone : closing.shape;
  if (open_.empty()) {
    if (deferred_ == 0) {
      PutInOrder(members, shape, closing.parentKey);
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
      PutInOrder(members, shape, closing.parentKey);
    }
  }
}

void StructureBuilder::PutInOrder(StructureStorage& members, std::uint32_t shape,
                                  const InternedText* parentKey, bool indexed) noexcept {
  if (members.unsorted == 0) return;
  work_.membersOrdered += members.size;
  if (indexed && members.unsorted > kScannedMembers) {
    // Its entries are of no further use; once no structure has any, the index is emptied.
    liveIndexed_ -= std::min<std::size_t>(liveIndexed_, members.unsorted);
    if (liveIndexed_ == 0) ClearIndex();
  }
  // A shape is worth keeping for two keys or more, all of them in document order still.
  if (shape != kNone && members.unsorted == members.size && members.size >= 2 &&
      members.size <= kLargestShape && OrderAndRemember(members, shapes_[shape], parentKey)) {
    return;
  }
  MemberSlots::PutInOrder(members);
}

bool StructureBuilder::OrderAndRemember(StructureStorage& members, Shape& shape,
                                        const InternedText* parentKey) noexcept {
  const std::uint32_t count = members.size;
  try {
    if (shape.room < count) {
      // Replaced from here on: a refusal below leaves no shape rather than a moved one.
      shape.count = 0;
      // Enough for a small document's shapes at once.
      if (shapeMembers_.capacity() == 0) shapeMembers_.reserve(kLargestShape);
      const std::uint32_t room = std::max<std::uint32_t>(8, std::bit_ceil(count));
      const auto offset = static_cast<std::uint32_t>(shapeMembers_.size());
      shapeMembers_.resize(offset + room);
      shape.offset = offset;
      shape.room = room;
    }
    // Only grown: OrderByShape uses the room for any shape remembered.
    if (order_.size() < count) order_.resize(std::max<std::size_t>(count, 64));
    if (ordered_.size() < count) ordered_.resize(std::max<std::size_t>(count, 64));
  } catch (...) {
    return false;
  }
  // Closed already: its depth is the number of structures open around it.
  const auto depth = static_cast<std::uint32_t>(open_.size());
  ShapeMember* remembered = shapeMembers_.data() + shape.offset;
  for (std::uint32_t i = 0; i < count; ++i) {
    order_[i] = i;
    remembered[i].key = members.slots[i].key;
  }
  std::sort(order_.begin(), order_.begin() + count,
            [&members](std::uint32_t left, std::uint32_t right) {
              return TextLess(*members.slots[left].key, *members.slots[right].key);
            });
  for (std::uint32_t position = 0; position < count; ++position) {
    ordered_[position] = members.slots[order_[position]];
    remembered[order_[position]].place = position;
  }
  std::copy(ordered_.begin(), ordered_.begin() + count, members.slots);
  members.unsorted = 0;
  shape.count = count;
  shape.generation = pool_->TextGeneration();
  shape.depth = depth;
  shape.parentKey = parentKey;
  return true;
}

void StructureBuilder::OrderByShape(StructureStorage& members, const Shape& shape) noexcept {
  const std::uint32_t count = members.size;
  ++work_.shapesFollowed;
  work_.membersOrdered += count;
  // Room for the shape's size was made when the shape was remembered.
  const ShapeMember* remembered = shapeMembers_.data() + shape.offset;
  for (std::uint32_t i = 0; i < count; ++i) ordered_[remembered[i].place] = members.slots[i];
  std::copy(ordered_.begin(), ordered_.begin() + count, members.slots);
  members.unsorted = 0;
}

void StructureBuilder::CloseAll() {
  while (!open_.empty()) Close();
  ForgetTree();
}

void StructureBuilder::Abandon() noexcept {
  open_.clear();
  innerFollowing_ = kNone;
  deferred_ = 0;
  ClearIndex();
  ForgetTree();
}

void StructureBuilder::ForgetTree() noexcept {
  keys_.Clear();
  // Nothing follows a shape now: the block is emptied (its capacity kept).
  shapes_.fill(Shape{});
  shapeMembers_.clear();
  pool_ = nullptr;
  lastMember_ = nullptr;
  lastKey_ = nullptr;
}

const BindingProperty* StructureBuilder::Find(const BindingProperty& structure,
                                              std::string_view key) {
  if (!structure.Is(ValueKind::kStructure)) return nullptr;
  // Members of a following structure have no index entries yet.
  StopAllFollowing();
  const InternedText* entry = key.empty() ? detail::EmptyText() : structure.Pool()->FindEntry(key);
  if (entry == nullptr) return nullptr;
  const MemberSlot* slot = Lookup(MemberSlots::Of(structure), entry);
  return slot != nullptr ? slot->value : nullptr;
}

void StructureBuilder::Settle(BindingProperty& value) {
  StopAllFollowing();
  PutTreeInOrder(value);
}

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
