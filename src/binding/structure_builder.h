// StructureBuilder: the readers' way of filling structures in document order.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "binding/value.h"

namespace Kavren {

/// Fills the structures of one value tree as a reader meets their members. Members are
/// appended without a search, and each structure is put into key order once, when it
/// closes, so a structure of n members costs n log n whatever the order of its keys.
/// A key met again in the same structure gives the member already there, exactly as
/// BindingProperty::Member does: the key's interned entry is marked with the open
/// structure that holds it.
///
/// An open structure must not be read or changed other than through the builder, and
/// every structure must be closed (CloseAll) before the tree is read or reset.
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
  /// Closes the innermost open structure, putting its members into key order.
  void Close() noexcept;
  /// Closes every open structure, innermost first.
  void CloseAll() noexcept;
  /// Structures open now.
  [[nodiscard]] std::size_t OpenCount() const noexcept { return open_.size(); }

 private:
  struct OpenStructure {
    BindingProperty* structure;
    std::size_t firstSavedMark;
  };
  struct SavedMark {
    detail::InternedText* entry;
    const void* mark;
  };

  // Room for `count` more saved marks, growing geometrically; the only step that can fail.
  void ReserveMarks(std::size_t count);
  // Saves the entry's mark and marks it with `owner` (room reserved before).
  void MarkKey(const detail::InternedText* entry, const void* owner);

  std::vector<OpenStructure> open_;
  std::vector<SavedMark> savedMarks_;
};

}  // namespace Kavren
