// StructureBuilder: the readers' way of filling structures in document order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "binding/value.h"

namespace Kavren {

/// Fills the structures of one value tree as a reader meets their members, at a cost
/// that no order of keys and no repetition can make worse than n log n for n members:
///
/// - Members are appended without a search and put into key order once, when their
///   structure closes: a structure of n members costs n log n whatever its key order.
/// - A key met again in the same structure gives the member already there, exactly as
///   BindingProperty::Member does. Members appended since the structure was last in
///   order are found by a scan while they are few and through a hash index of the
///   builder when there are more; members in order before them by binary search.
/// - A structure filled again after it closed (a repeated key whose value is a
///   structure) appends to the members it has; when it closes inside another open
///   structure, ordering it waits until the outermost open structure closes, so that a
///   structure reopened k times is ordered once, not k times.
///
/// A structure the builder appended to must not be read or changed other than through
/// the builder (Member, Find, Settle) until the outermost open structure has closed.
/// Values may be replaced or reset at any time.
class StructureBuilder {
 public:
  StructureBuilder() = default;
  /// Closes whatever is still open.
  ~StructureBuilder();
  StructureBuilder(const StructureBuilder&) = delete;
  StructureBuilder& operator=(const StructureBuilder&) = delete;

  /// Makes `structure` (a value of kind structure, possibly holding members already) the
  /// innermost open structure.
  void Open(BindingProperty& structure);
  /// The member `key` (all of its bytes count) of the innermost open structure: the
  /// member already there when the structure has the key, otherwise a new empty member.
  BindingProperty& Member(std::string_view key);
  /// As above for a key hashed already.
  BindingProperty& Member(const detail::HashedText& key);
  /// Closes the innermost open structure. When it was the outermost one, every structure
  /// the builder appended to is in key order afterwards.
  void Close();
  /// Closes every open structure, innermost first.
  void CloseAll();
  /// Forgets the open structures without ordering anything: for a reader that resets the
  /// whole tree next (a failure). The tree must not be read before it is reset.
  void Abandon() noexcept;
  /// Structures open now.
  [[nodiscard]] std::size_t OpenCount() const noexcept { return open_.size(); }

  /// The member `key` of `structure`, a structure anywhere in the tree (open, closed, in
  /// key order or not), or null when it has no such member.
  [[nodiscard]] const BindingProperty* Find(const BindingProperty& structure,
                                            std::string_view key) const;
  /// Puts every structure in `value` (itself included, at any depth) into key order, so
  /// that the ordinary interface may read or copy it while other structures are still
  /// open. Structures of `value` that are open stay open.
  void Settle(BindingProperty& value);

  /// The work done so far, for tests of its bounds: member slots compared with a key by
  /// lookups, and members of the structures put in order (each counted once per ordering).
  struct Work {
    std::uint64_t slotsExamined = 0;
    std::uint64_t membersOrdered = 0;
  };
  [[nodiscard]] const Work& WorkDone() const noexcept { return work_; }

 private:
  struct OpenStructure {
    BindingProperty* structure;
    // It had members when it was opened: ordering it may wait for the outermost close.
    bool reopened;
  };
  // One indexed member: a hash of (structure, key) and the member's position. A position
  // is trusted only after the slot there is checked to hold the key, so entries of
  // structures reset or put in order since are harmless; they are cleared all at once when
  // no structure needs the index any more, so that they do not lengthen later probes.
  struct IndexEntry {
    std::uint32_t tag;  // 0: a free entry
    std::uint32_t position;
  };

  // Unsorted members up to this count are found by a scan, without the index.
  static constexpr std::uint32_t kScannedMembers = 8;

  static std::uint32_t Tag(const detail::StructureStorage& members,
                           const detail::InternedText* key) noexcept;
  [[nodiscard]] detail::MemberSlot* Lookup(const detail::StructureStorage& members,
                                           const detail::InternedText* key) const noexcept;
  // Room for `count` more index entries; the only step of appending that can fail.
  void ReserveIndex(std::size_t count);
  void IndexMember(const detail::StructureStorage& members, std::uint32_t position) noexcept;
  // Empties the index (only the entries written are visited).
  void ClearIndex() noexcept;
  void PutInOrder(detail::StructureStorage& members) noexcept;
  // Puts every structure in `value` into key order (a walk over its containers).
  void PutTreeInOrder(BindingProperty& value);

  std::vector<OpenStructure> open_;
  // Open addressing with linear probing; the size is 0 or a power of two.
  std::vector<IndexEntry> index_;
  std::size_t indexUsed_ = 0;
  // The places in index_ of its entries, for clearing.
  std::vector<std::uint32_t> written_;
  // Entries of structures not yet put in order: each unsorted member of a structure with
  // more than kScannedMembers of them has one. Structures reset while unsorted leave theirs
  // counted until the outermost structure closes, which only delays a clearing.
  std::size_t liveIndexed_ = 0;
  // Structures closed inside another one while not in key order.
  std::size_t deferred_ = 0;
  mutable Work work_;
};

}  // namespace Kavren
