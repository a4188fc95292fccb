// StructureBuilder: the readers' way of filling structures in document order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "binding/key_cache.h"
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
/// Two memories make the common document cheap without changing any result:
///
/// - Keys are interned through a KeyCache, so a key met before costs one comparison of
///   its bytes.
/// - The shape of a structure put in order when it closed (its keys in document order and
///   the place ordering gave each) is remembered for its successors: the next structure
///   opened empty in the same place (the same depth, under the same key or as an element)
///   that brings the same keys in the same order is filled without lookups (its keys are
///   the shape's, so none repeats) and put in order by the remembered places. The first key
///   that differs makes it an ordinary structure from there on.
///
/// Neither holds references: both count only while the pool keeps its TextGeneration (no
/// entry freed since they were filled), so no key they name can have changed its text.
///
/// A structure the builder appended to must not be read or changed other than through
/// the builder (Member, Find, Settle) until the outermost open structure has closed.
/// Values may be replaced or reset at any time, open structures excepted.
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
  /// As above for a key hashed already (not looked up in the key cache).
  BindingProperty& Member(const detail::HashedText& key);
  /// As above for the key made of the `length` bytes at `key` up to the first zero byte
  /// among them: how the readers take a key.
  BindingProperty& MemberUpToZero(const char* key, std::size_t length);
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
  [[nodiscard]] const BindingProperty* Find(const BindingProperty& structure, std::string_view key);
  /// Puts every structure in `value` (itself included, at any depth) into key order, so
  /// that the ordinary interface may read or copy it while other structures are still
  /// open. Structures of `value` that are open stay open.
  void Settle(BindingProperty& value);

  /// The work done so far, for tests of its bounds: member slots compared with a key by
  /// lookups, and members of the structures put in order (each counted once per ordering).
  struct Work {
    std::uint64_t slotsExamined = 0;
    std::uint64_t membersOrdered = 0;
    // Structures put in order by a remembered shape, and keys found in the key cache.
    std::uint64_t shapesFollowed = 0;
    std::uint64_t keysCached = 0;
  };
  [[nodiscard]] Work WorkDone() const noexcept {
    Work done = work_;
    done.keysCached = keys_.Hits();
    return done;
  }

 private:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  struct OpenStructure {
    BindingProperty* structure;
    // It had members when it was opened: ordering it may wait for the outermost close.
    bool reopened;
    // It brought its shape's keys so far, each appended without a lookup or an index entry.
    bool following;
    // Its place in shapes_ (kNone: it neither follows nor leaves a shape).
    std::uint32_t shape;
    // The next following structure further out, an index of open_ (kNone: none).
    std::uint32_t outerFollowing;
    // The key it is the value of (null: an element or a root), part of its shape's place.
    const detail::InternedText* parentKey;
  };
  // One key of a shape, in the order the keys came, and the position ordering gave it.
  // The key is compared, never read: it counts while the pool's generation is still the
  // shape's.
  struct ShapeMember {
    const detail::InternedText* key;
    std::uint32_t place;
  };
  // A structure's keys: `count` of them in shapeMembers_ from `offset`, which has room for
  // `room` (the room stays the shape's when it is replaced by one that fits).
  struct Shape {
    std::uint64_t generation = 0;
    std::uint32_t depth = 0;
    const detail::InternedText* parentKey = nullptr;  // null: an element or a root
    bool followed = false;    // an open structure follows it: it is not replaced meanwhile
    std::uint32_t count = 0;  // 0: no shape
    std::uint32_t offset = 0;
    std::uint32_t room = 0;
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
  static constexpr std::size_t kShapes = 32;
  // Larger structures are ordered without leaving a shape: records are small, and a shape
  // holds memory of its own.
  static constexpr std::uint32_t kLargestShape = 256;

  static std::uint32_t Tag(const detail::StructureStorage& members,
                           const detail::InternedText* key) noexcept;
  [[nodiscard]] detail::MemberSlot* Lookup(const detail::StructureStorage& members,
                                           const detail::InternedText* key) const noexcept;
  // Room for `count` more index entries; the only step of appending that can fail.
  void ReserveIndex(std::size_t count);
  void IndexMember(const detail::StructureStorage& members, std::uint32_t position) noexcept;
  // Empties the index (only the entries written are visited).
  void ClearIndex() noexcept;
  // Puts the members in key order; a structure filled for the first time (`shape` not
  // kNone) leaves its shape there. `indexed`: its unsorted members past the scanned count
  // have index entries (all but a structure that followed a shape).
  void PutInOrder(detail::StructureStorage& members, std::uint32_t shape = kNone,
                  const detail::InternedText* parentKey = nullptr, bool indexed = true) noexcept;
  // Orders a structure filled for the first time and remembers its shape; false (nothing
  // done) when no memory is left for the shape.
  bool OrderAndRemember(detail::StructureStorage& members, Shape& shape,
                        const detail::InternedText* parentKey) noexcept;
  // Orders a structure that brought exactly its shape's keys.
  void OrderByShape(detail::StructureStorage& members, const Shape& shape) noexcept;
  // Adds a counted key: the member already there, or a new one.
  BindingProperty& Place(const detail::InternedText* entry);
  // The innermost open structure stops following its shape; its members get index entries.
  void StopFollowing(OpenStructure& open);
  // Every open structure stops following (before a lookup or an ordering from outside).
  void StopAllFollowing();
  // Empties the key cache and the shapes.
  void ForgetTree() noexcept;
  // Puts every structure in `value` into key order (a walk over its containers).
  void PutTreeInOrder(BindingProperty& value);

  std::vector<OpenStructure> open_;
  // The innermost following structure, an index of open_ (kNone: none).
  std::uint32_t innerFollowing_ = kNone;
  // The pool of the tree being built (null before the first structure and after ForgetTree).
  ValuePool* pool_ = nullptr;
  detail::KeyCache keys_;
  std::array<Shape, kShapes> shapes_;
  // The keys of every shape, in one block so that a small document's shapes cost one or
  // two allocations rather than two each. A shape that outgrows its room moves to the end
  // with twice the room, so the block holds at most twice the shapes' largest sizes.
  std::vector<ShapeMember> shapeMembers_;
  // The member Place answered last and its key: a structure opened there is its value.
  const BindingProperty* lastMember_ = nullptr;
  const detail::InternedText* lastKey_ = nullptr;
  // Room for ordering by index (OrderAndRemember).
  std::vector<std::uint32_t> order_;
  std::vector<detail::MemberSlot> ordered_;
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
