// The tree-wide operations on values: releasing, copying, the containment test and
// visiting, written as loops over explicit work lists.
#pragma once

#include "binding/value.h"
#include "binding/value_storage.h"

namespace Kavren::detail {

// The tree-wide operations, written as loops over explicit work lists so that no depth
// of nesting can exhaust the stack.
struct ValueOperations {
  using Payload = BindingProperty::Payload;

  struct Pending {
    ValueKind kind;
    Payload payload;
  };

  static bool IsContainer(ValueKind kind) {
    return kind == ValueKind::kCollection || kind == ValueKind::kStructure;
  }

  // Takes the content out of a cell without releasing it; the cell becomes empty.
  static Pending Detach(BindingProperty& cell) noexcept {
    Pending taken{cell.kind(), cell.payload_};
    cell.setKind(ValueKind::kEmpty);
    cell.payload_.unsignedNumber = 0;
    return taken;
  }

  static void Install(BindingProperty& cell, const Pending& content) noexcept {
    cell.setKind(content.kind);
    cell.payload_ = content.payload;
  }

  // Releases the content of `root` and leaves it empty, at any depth and without
  // allocating, so that releasing never fails. Children are released from the last one
  // back: a container's size counts the children still to release. The walk descends
  // into the last child that is a container; coming back up, that child is dropped from
  // its parent, whose storage and cell the way back (SetWayBack) leads to. The storage of
  // the containers being walked stays in place until they are finished, so the way back
  // lives in the tree itself. With kWhole the tree goes with its pool afterwards and must
  // not be used again: only blob bytes are freed (the pool frees everything else), and
  // each container is read once.
  template <bool kWhole>
  static void Release(BindingProperty& root) noexcept;

  // The entry for `entry`'s text in `pool`, counted: shared when the pool is the entry's own.
  static const InternedText* Reintern(ValuePool& pool, ValuePool* sourcePool,
                                      const InternedText* entry);

  // True when `cell` lies inside `container` (at any depth below it).
  static bool Encloses(const BindingProperty& container, const BindingProperty& cell);

  // Deep copy of `source` into the empty cell `target`.
  static void CopyInto(BindingProperty& target, const BindingProperty& source);

  static void Visit(const BindingProperty& root, BindingVisitor& visitor);
  // The walk Visit makes, for any visitor type (binding/value_walk.h defines it).
  template <class Visitor>
  static void Walk(const BindingProperty& root, Visitor& visitor);

 private:
  // Releases a payload that holds no further values. A tree released whole (kWhole) goes
  // with its pool, so only what lives outside the pool's reach is freed: blob bytes.
  template <bool kWhole>
  static void ReleaseLeaf(ValuePool* pool, ValueKind kind, Payload payload) noexcept;

  // Releases the last member of a structure after its value: the key and the cell.
  template <bool kWhole>
  static void DropLastMember(ValuePool* pool, StructureStorage& members) noexcept;

  // Frees a container's storage once its children are released. A tree released whole
  // leaves all of it to its pool.
  template <bool kWhole>
  static void FreeStorage(ValuePool* pool, ValueKind kind, Payload payload) noexcept;

  // While a tree is released, the cell of each container on the way down holds, in place
  // of its pool word, the cell of its parent container (null for the root's content) and,
  // in the low bit, whether that parent is a structure. Cells are at least 4-byte aligned.
  static void SetWayBack(BindingProperty& cell, BindingProperty* parent, bool parentIsStructure);
  static BindingProperty* WayBack(const BindingProperty& cell, bool& parentIsStructure);
};

}  // namespace Kavren::detail
