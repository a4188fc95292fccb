// Releasing, copying, the containment test and visiting, at any depth without recursion.
#include "binding/value_operations.h"

#include <vector>

#include "binding/value_walk.h"

namespace Kavren::detail {

template <bool kWhole>
void ValueOperations::ReleaseLeaf(ValuePool* pool, ValueKind kind, Payload payload) noexcept {
  switch (kind) {
    case ValueKind::kString:
      if (!kWhole && pool != nullptr) pool->Release(payload.text);
      break;
    case ValueKind::kBlob:
      payload.blob->~vector();
      pool->CountBlob(-1);
      if (!kWhole) pool->Free(payload.blob, sizeof(std::vector<std::uint8_t>));
      break;
    case ValueKind::kEnum:
      if (!kWhole) pool->Free(payload.enumeration, sizeof(BindingEnumValue));
      break;
    default:
      break;
  }
}

template <bool kWhole>
void ValueOperations::DropLastMember(ValuePool* pool, StructureStorage& members) noexcept {
  const MemberSlot& slot = members.slots[--members.size];
  if (kWhole) return;
  pool->Release(slot.key);
  pool->Free(slot.value, sizeof(BindingProperty));
}

template <bool kWhole>
void ValueOperations::FreeStorage(ValuePool* pool, ValueKind kind, Payload payload) noexcept {
  if (kWhole) return;
  if (kind == ValueKind::kCollection) {
    payload.collection->Destroy(pool);
  } else {
    StructureStorage* members = payload.structure;
    FreeArray(pool, members->slots, members->capacity);
    pool->Free(members, sizeof(StructureStorage));
  }
}

void ValueOperations::SetWayBack(BindingProperty& cell, BindingProperty* parent,
                                 bool parentIsStructure) {
  cell.setWalkLink(reinterpret_cast<std::uintptr_t>(parent) | (parentIsStructure ? 1u : 0u));
}

BindingProperty* ValueOperations::WayBack(const BindingProperty& cell, bool& parentIsStructure) {
  const std::uintptr_t link = cell.walkLink();
  parentIsStructure = (link & 1u) != 0;
  return reinterpret_cast<BindingProperty*>(link & ~static_cast<std::uintptr_t>(1));
}

template <bool kWhole>
void ValueOperations::Release(BindingProperty& root) noexcept {
  ValuePool* pool = root.pool();
  const Pending top = Detach(root);
  if (!IsContainer(top.kind)) {
    ReleaseLeaf<kWhole>(pool, top.kind, top.payload);
    return;
  }
  BindingProperty* cell = nullptr;  // the container being released; null: the root's
  ValueKind kind = top.kind;
  Payload payload = top.payload;
  for (;;) {
    BindingProperty* child = nullptr;
    if (kind == ValueKind::kCollection) {
      CollectionStorage& elements = *payload.collection;
      while (elements.size != 0) {
        BindingProperty& last = elements.begin[elements.size - 1];
        if (IsContainer(last.kind())) {
          child = &last;
          break;
        }
        // The cells go with their array and are never destroyed one by one, so their
        // content is taken as it stands, without clearing each cell.
        ReleaseLeaf<kWhole>(pool, last.kind(), last.payload_);
        --elements.size;
      }
    } else {
      StructureStorage& members = *payload.structure;
      while (members.size != 0) {
        BindingProperty& last = *members.slots[members.size - 1].value;
        if (IsContainer(last.kind())) {
          child = &last;
          break;
        }
        ReleaseLeaf<kWhole>(pool, last.kind(), last.payload_);
        DropLastMember<kWhole>(pool, members);
      }
    }
    if (child != nullptr) {
      const ValueKind childKind = child->kind();
      SetWayBack(*child, cell, kind == ValueKind::kStructure);
      cell = child;
      kind = childKind;
      payload = child->payload_;
      continue;
    }
    FreeStorage<kWhole>(pool, kind, payload);
    if (cell == nullptr) return;
    // Back up: the container just finished is its parent's last child.
    bool parentIsStructure = false;
    BindingProperty* parent = WayBack(*cell, parentIsStructure);
    kind = parentIsStructure ? ValueKind::kStructure : ValueKind::kCollection;
    payload = parent != nullptr ? parent->payload_ : top.payload;
    if (parentIsStructure) {
      DropLastMember<kWhole>(pool, *payload.structure);
    } else {
      --payload.collection->size;
    }
    cell = parent;
  }
}

template void ValueOperations::Release<true>(BindingProperty& root) noexcept;
template void ValueOperations::Release<false>(BindingProperty& root) noexcept;

const InternedText* ValueOperations::Reintern(ValuePool& pool, ValuePool* sourcePool,
                                              const InternedText* entry) {
  if (sourcePool == &pool || entry == EmptyText()) {
    ValuePool::AddReference(entry);
    return entry;
  }
  return pool.Intern(entry->text());
}

bool ValueOperations::Encloses(const BindingProperty& container, const BindingProperty& cell) {
  std::vector<const BindingProperty*> work;
  if (IsContainer(container.kind())) work.push_back(&container);
  while (!work.empty()) {
    const BindingProperty& value = *work.back();
    work.pop_back();
    if (value.kind() == ValueKind::kCollection) {
      const CollectionStorage& elements = *value.payload_.collection;
      for (const BindingProperty* element = elements.begin; element != elements.end(); ++element) {
        if (element == &cell) return true;
        if (IsContainer(element->kind())) work.push_back(element);
      }
    } else {
      const StructureStorage& members = *value.payload_.structure;
      for (std::uint32_t i = 0; i < members.size; ++i) {
        const BindingProperty* member = members.slots[i].value;
        if (member == &cell) return true;
        if (IsContainer(member->kind())) work.push_back(member);
      }
    }
  }
  return false;
}

void ValueOperations::CopyInto(BindingProperty& target, const BindingProperty& source) {
  struct Job {
    BindingProperty* target;
    const BindingProperty* source;
  };
  std::vector<Job> work;
  work.push_back({&target, &source});
  while (!work.empty()) {
    const Job job = work.back();
    work.pop_back();
    BindingProperty& to = *job.target;
    const BindingProperty& from = *job.source;
    switch (from.kind()) {
      case ValueKind::kBool:
      case ValueKind::kSigned:
      case ValueKind::kUnsigned:
      case ValueKind::kFloat:
        to.setKind(from.kind());
        to.payload_ = from.payload_;
        break;
      case ValueKind::kString:
        if (from.payload_.text == EmptyText()) {
          to.setKind(ValueKind::kString);
          to.payload_.text = EmptyText();
        } else {
          to.payload_.text = Reintern(to.EnsurePool(), from.pool(), from.payload_.text);
          to.setKind(ValueKind::kString);
        }
        break;
      case ValueKind::kBlob:
        to.SetBlobCopy(from.GetBlob());
        break;
      case ValueKind::kEnum:
        to.SetEnum(from.payload_.enumeration->value, from.payload_.enumeration->identity);
        break;
      case ValueKind::kCollection: {
        const CollectionStorage& elements = *from.payload_.collection;
        ValueStorage::MakeCollectionStorage(to);
        ValueStorage::GrowCollection(to, elements.Size());
        // Every element is appended before any is filled, so the cells queued below
        // never move.
        for (const BindingProperty* cell = elements.begin; cell != elements.end(); ++cell) {
          BindingProperty& copy = ValueStorage::AppendElement(to);
          if (cell->kind() != ValueKind::kEmpty) work.push_back({&copy, cell});
        }
        break;
      }
      case ValueKind::kStructure: {
        const StructureStorage& source = *from.payload_.structure;
        StructureStorage& members = ValueStorage::MakeStructureStorage(to);
        // The source is in key order, so each member goes to the end.
        for (std::uint32_t i = 0; i < source.size; ++i) {
          const MemberSlot& slot = source.slots[i];
          const InternedText* copiedKey = Reintern(*to.pool(), from.pool(), slot.key);
          BindingProperty& copy =
              ValueStorage::InsertMember(members, members.size, copiedKey, to.pool());
          if (slot.value->kind() != ValueKind::kEmpty) work.push_back({&copy, slot.value});
        }
        break;
      }
      default:
        break;
    }
  }
}

void ValueOperations::Visit(const BindingProperty& root, BindingVisitor& visitor) {
  Walk(root, visitor);
}

}  // namespace Kavren::detail
