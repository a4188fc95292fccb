// Walking a value with a visitor whose type is known where the walk is compiled: with a
// final visitor class its calls are direct and can be inlined, which matters for writers
// that visit every cell of large trees. BindingProperty::Visit is this walk over a
// BindingVisitor&.
#pragma once

#include <vector>

#include "binding/value_operations.h"

namespace Kavren {
namespace detail {

template <class Visitor>
void ValueOperations::Walk(const BindingProperty& root, Visitor& visitor) {
  // One open container: its elements or member slots, and the next one to visit.
  struct Frame {
    bool isCollection;
    const BindingProperty* elements;
    const MemberSlot* slots;
    std::size_t count;
    std::size_t index;
  };
  std::vector<Frame> frames;
  const BindingProperty* next = &root;
  for (;;) {
    // Report a scalar, or open a container (a new frame). The one place where values
    // are entered, so that it is compiled inline.
    if (next != nullptr) {
      const BindingProperty& value = *next;
      next = nullptr;
      switch (value.kind()) {
        case ValueKind::kEmpty:
          visitor.VisitEmpty();
          break;
        case ValueKind::kBool:
          visitor.VisitBool(value.payload_.boolean);
          break;
        case ValueKind::kSigned:
          visitor.VisitSigned(value.payload_.signedNumber);
          break;
        case ValueKind::kUnsigned:
          visitor.VisitUnsigned(value.payload_.unsignedNumber);
          break;
        case ValueKind::kFloat:
          visitor.VisitFloat(value.payload_.floating);
          break;
        case ValueKind::kString:
          visitor.VisitString(value.payload_.text->text());
          break;
        case ValueKind::kBlob:
          visitor.VisitBlob(value.GetBlob());
          break;
        case ValueKind::kEnum:
          visitor.VisitEnum(*value.payload_.enumeration);
          break;
        case ValueKind::kCollection: {
          const CollectionStorage& elements = *value.payload_.collection;
          visitor.BeginCollection(elements.Size());
          frames.push_back({true, elements.begin, nullptr, elements.Size(), 0});
          break;
        }
        case ValueKind::kStructure: {
          const StructureStorage& members = *value.payload_.structure;
          visitor.BeginStructure(members.size);
          frames.push_back({false, nullptr, members.slots, members.size, 0});
          break;
        }
        default:
          break;
      }
    }
    if (frames.empty()) return;
    Frame& frame = frames.back();
    // Close the child visited last, then enter the next one or close the container.
    if (frame.isCollection) {
      if (frame.index != 0) visitor.EndItem(frame.index - 1);
      if (frame.index < frame.count) {
        visitor.BeginItem(frame.index);
        next = &frame.elements[frame.index++];
      } else {
        visitor.EndCollection();
        frames.pop_back();
      }
    } else {
      if (frame.index != 0) visitor.EndMember(frame.slots[frame.index - 1].key->text());
      if (frame.index < frame.count) {
        const MemberSlot& slot = frame.slots[frame.index++];
        visitor.BeginMember(slot.key->text());
        next = slot.value;
      } else {
        visitor.EndStructure();
        frames.pop_back();
      }
    }
  }
}

}  // namespace detail

/// Walks `value` depth first as BindingProperty::Visit does, calling `visitor` (a
/// BindingVisitor, best of a final class) directly instead of through the virtual table.
template <class Visitor>
void WalkValue(const BindingProperty& value, Visitor& visitor) {
  detail::ValueOperations::Walk(value, visitor);
}

}  // namespace Kavren
