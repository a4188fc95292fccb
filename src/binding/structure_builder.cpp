// StructureBuilder: members appended in document order, sorted when a structure closes.
#include "binding/structure_builder.h"

#include <algorithm>

namespace Kavren {

using detail::InternedText;
using detail::MemberSlot;
using detail::MemberSlots;
using detail::StructureStorage;

StructureBuilder::~StructureBuilder() { CloseAll(); }

void StructureBuilder::ReserveMarks(std::size_t count) {
  const std::size_t wanted = savedMarks_.size() + count;
  if (wanted > savedMarks_.capacity()) {
    savedMarks_.reserve(std::max(wanted, 2 * savedMarks_.capacity()));
  }
}

void StructureBuilder::MarkKey(const InternedText* entry, const void* owner) {
  auto* marked = const_cast<InternedText*>(entry);
  savedMarks_.push_back({marked, marked->mark});
  marked->mark = owner;
}

namespace {

// The member slot of `entry` in `members`, or null.
MemberSlot* SlotOf(StructureStorage& members, const InternedText* entry) {
  for (std::uint32_t i = 0; i < members.size; ++i) {
    if (members.slots[i].key == entry) return &members.slots[i];
  }
  return nullptr;
}

}  // namespace

void StructureBuilder::Open(BindingProperty& structure) {
  StructureStorage& members = MemberSlots::Of(structure);
  ReserveMarks(members.size);
  open_.push_back({&structure, savedMarks_.size()});
  // Members already there (a repeated key whose structure is filled again) must be found.
  for (std::uint32_t i = 0; i < members.size; ++i) {
    if (members.slots[i].key != detail::EmptyText()) MarkKey(members.slots[i].key, &members);
  }
}

BindingProperty& StructureBuilder::Member(std::string_view key) {
  return Member(detail::HashedText{key, detail::HashBytes(key)});
}

BindingProperty& StructureBuilder::Member(const detail::HashedText& key) {
  BindingProperty& structure = *open_.back().structure;
  StructureStorage& members = MemberSlots::Of(structure);
  ValuePool& pool = *structure.Pool();
  const InternedText* entry = pool.Intern(key);
  // The static empty entry is shared by every pool and never marked: it is searched for.
  const bool shared = entry == detail::EmptyText();
  if (shared || entry->mark == &members) {
    if (MemberSlot* existing = SlotOf(members, entry)) {
      pool.Release(entry);
      return *existing->value;
    }
  }
  if (!shared) {
    try {
      ReserveMarks(1);
    } catch (...) {
      pool.Release(entry);
      throw;
    }
  }
  BindingProperty& member = MemberSlots::AppendUnordered(structure, entry);
  if (!shared) MarkKey(entry, &members);
  return member;
}

void StructureBuilder::Close() noexcept {
  const OpenStructure closing = open_.back();
  open_.pop_back();
  // Marks are put back newest first, so each entry ends with the mark it had before.
  while (savedMarks_.size() > closing.firstSavedMark) {
    const SavedMark& saved = savedMarks_.back();
    saved.entry->mark = saved.mark;
    savedMarks_.pop_back();
  }
  MemberSlots::Sort(MemberSlots::Of(*closing.structure));
}

void StructureBuilder::CloseAll() noexcept {
  while (!open_.empty()) Close();
}

}  // namespace Kavren
