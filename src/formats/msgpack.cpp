// ReadMessagePack: a loop over the bytes with an explicit stack of open containers.
#include "formats/msgpack.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "binding/structure_builder.h"
#include "formats/limits.h"
#include "formats/messages.h"
#include "util/format.h"

namespace Kavren {
namespace detail {
namespace {

enum class FrameKind : std::uint8_t { kValue, kCollection, kStructure };

// One value being filled. Counts and indexes are 64-bit so that a structure's
// doubled entry count never wraps.
struct MessagePackFrame {
  explicit MessagePackFrame(BindingProperty* target) : value(target) {}

  BindingProperty* value;
  FrameKind kind = FrameKind::kValue;
  std::uint64_t count = 0;
  std::uint64_t index = 0;
  // The pending member name: a view into the input, up to its first NUL byte.
  std::string_view key;
};

class MessagePackReader {
 public:
  MessagePackReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {
    result_.ok = true;
  }

  BindingResult Run(std::size_t& consumed) {
    stack_.reserve(16);
    stack_.emplace_back(&result_.value);
    while (result_.ok && position_ < size_) {
      if (!Step()) break;
    }
    // Structures still open at the end of the input are kept as read so far.
    structures_.CloseAll();
    consumed = static_cast<std::size_t>(position_);
    return std::move(result_);
  }

 private:
  // Reads one item into the next target; false when no target is left.
  bool Step() {
    bool keyMode = false;
    MessagePackFrame* target = nullptr;
    while (!stack_.empty()) {
      MessagePackFrame& top = stack_.back();
      if (top.kind == FrameKind::kValue) {
        target = &top;
        break;
      }
      if (top.index == top.count) {
        if (top.kind == FrameKind::kStructure) structures_.Close();
        stack_.pop_back();
        continue;
      }
      if (top.kind == FrameKind::kCollection) {
        // By index, not appended: a repeated key writes over the collection it met first.
        const std::uint64_t i = top.index++;
        BindingProperty& element = top.value->AtGrow(static_cast<std::size_t>(i));
        stack_.emplace_back(&element);
      } else if ((top.index & 1) == 0) {
        ++top.index;
        keyMode = true;
        target = &top;
        break;
      } else {
        ++top.index;
        BindingProperty& member = structures_.Member(top.key);
        stack_.emplace_back(&member);
      }
      target = &stack_.back();
      break;
    }
    if (target == nullptr) return false;

    const std::uint8_t type = data_[position_++];
    if (keyMode) {
      ReadKey(type, *target);
      return true;
    }
    ReadItem(type);
    return true;
  }

  void ReadKey(std::uint8_t type, MessagePackFrame& frame) {
    std::uint64_t length = 0;
    if (type >= 0xA0 && type <= 0xBF) {
      length = type & 0x1F;
    } else if (type >= 0xD9 && type <= 0xDB) {
      if (!ReadUnsigned(1u << (type - 0xD9), length)) return;
    } else {
      Fail(FormatMessages::kMessagePackKeyNotString, position_);
      return;
    }
    if (!HaveBytes(length, FormatMessages::kMessagePackStringTruncated)) return;
    const auto* text = reinterpret_cast<const char*>(data_ + position_);
    const auto bytes = static_cast<std::size_t>(length);
    const void* zero = std::memchr(text, 0, bytes);
    frame.key = std::string_view(
        text,
        zero == nullptr ? bytes : static_cast<std::size_t>(static_cast<const char*>(zero) - text));
    position_ += length;
  }

  // The target is the innermost frame.
  void ReadItem(std::uint8_t type) {
    BindingProperty& value = *stack_.back().value;
    std::uint64_t number = 0;
    if (type <= 0x7F) {
      value.SetSigned(type);
    } else if (type <= 0x8F) {
      OpenStructure(type & 0x0F);
      return;
    } else if (type <= 0x9F) {
      OpenCollection(type & 0x0F);
      return;
    } else if (type <= 0xBF) {
      if (!ReadText(type & 0x1F, false)) return;
    } else if (type >= 0xE0) {
      value.SetSigned(static_cast<std::int8_t>(type));
    } else {
      switch (type) {
        case 0xC0:
          break;
        case 0xC2:
        case 0xC3:
          value.SetBool(type == 0xC3);
          break;
        case 0xC4:
        case 0xC5:
        case 0xC6:
          if (!ReadUnsigned(1u << (type - 0xC4), number) || !ReadText(number, true)) return;
          break;
        case 0xCA:
          if (!ReadUnsigned(4, number)) return;
          value.SetFloat(std::bit_cast<float>(static_cast<std::uint32_t>(number)));
          break;
        case 0xCB:
          if (!ReadUnsigned(8, number)) return;
          value.SetFloat(std::bit_cast<double>(number));
          break;
        case 0xCC:
        case 0xCD:
        case 0xCE:
        case 0xCF:
          if (!ReadUnsigned(1u << (type - 0xCC), number)) return;
          value.SetUnsigned(number);
          break;
        case 0xD0:
        case 0xD1:
        case 0xD2:
        case 0xD3: {
          const unsigned width = 1u << (type - 0xD0);
          if (!ReadUnsigned(width, number)) return;
          // Sign-extend from the field's width.
          const unsigned shift = 64 - 8 * width;
          value.SetSigned(static_cast<std::int64_t>(number << shift) >> shift);
          break;
        }
        case 0xD9:
        case 0xDA:
        case 0xDB:
          if (!ReadUnsigned(1u << (type - 0xD9), number) || !ReadText(number, false)) return;
          break;
        case 0xDC:
        case 0xDD:
          if (!ReadUnsigned(type == 0xDC ? 2 : 4, number)) return;
          OpenCollection(number);
          return;
        case 0xDE:
        case 0xDF:
          if (!ReadUnsigned(type == 0xDE ? 2 : 4, number)) return;
          OpenStructure(number);
          return;
        default:  // 0xC1, ext 8/16/32, fixext 1..16
          Fail(FormatMessages::kMessagePackUnsupportedType, position_);
          return;
      }
    }
    stack_.pop_back();
  }

  bool CanOpen() {
    // Every frame below the target is an open container.
    if (stack_.size() - 1 >= kMaxNestingDepth) {
      Fail(FormatMessages::kMessagePackNestingTooDeep, position_);
      return false;
    }
    return true;
  }
  void OpenCollection(std::uint64_t count) {
    if (!CanOpen()) return;
    MessagePackFrame& frame = stack_.back();
    // Nothing is reserved for the announced count: elements are added as their items
    // arrive, so a count that the data does not back costs nothing.
    frame.value->MakeCollection();
    frame.kind = FrameKind::kCollection;
    frame.count = count;
    frame.index = 0;
  }
  void OpenStructure(std::uint64_t entries) {
    if (!CanOpen()) return;
    MessagePackFrame& frame = stack_.back();
    frame.value->MakeStructure();
    structures_.Open(*frame.value);
    frame.kind = FrameKind::kStructure;
    frame.count = entries * 2;
    frame.index = 0;
  }

  bool ReadUnsigned(unsigned width, std::uint64_t& out) {
    if (size_ - position_ < width) {
      const char* message = width == 1   ? FormatMessages::kMessagePackTruncated8
                            : width == 2 ? FormatMessages::kMessagePackTruncated16
                            : width == 4 ? FormatMessages::kMessagePackTruncated32
                                         : FormatMessages::kMessagePackTruncated64;
      Fail(message, position_);
      return false;
    }
    std::uint64_t value = 0;
    for (unsigned i = 0; i < width; ++i) value = (value << 8) | data_[position_ + i];
    position_ += width;
    out = value;
    return true;
  }

  bool HaveBytes(std::uint64_t length, const char* message) {
    if (size_ - position_ < length) {
      Fail(Format(message, length, position_));
      return false;
    }
    return true;
  }

  bool ReadText(std::uint64_t length, bool blob) {
    if (!HaveBytes(length, blob ? FormatMessages::kMessagePackBytesTruncated
                                : FormatMessages::kMessagePackStringTruncated)) {
      return false;
    }
    const auto* begin = data_ + position_;
    const auto bytes = static_cast<std::size_t>(length);
    if (blob) {
      stack_.back().value->SetBlob(std::vector<std::uint8_t>(begin, begin + bytes));
    } else {
      stack_.back().value->SetString(std::string_view(reinterpret_cast<const char*>(begin), bytes));
    }
    position_ += length;
    return true;
  }

  void Fail(const char* message, std::uint64_t position) { Fail(Format(message, position)); }
  // The failure resets the value, so the open structures are left as they are.
  void Fail(const std::string& message) {
    structures_.Abandon();
    result_.Fail(message);
  }

  const std::uint8_t* data_;
  std::uint64_t size_;
  std::uint64_t position_ = 0;
  BindingResult result_;
  std::vector<MessagePackFrame> stack_;
  StructureBuilder structures_;
};

}  // namespace
}  // namespace detail

BindingResult ReadMessagePack(const void* data, std::size_t size, std::size_t& consumed) {
  consumed = 0;
  if (data == nullptr) size = 0;
  detail::MessagePackReader reader(static_cast<const std::uint8_t*>(data), size);
  return reader.Run(consumed);
}

bool IsMessagePackData(const void* data, std::size_t size) {
  if (data == nullptr || size == 0) return false;
  const std::uint8_t first = *static_cast<const std::uint8_t*>(data);
  return (first >= 0x80 && first <= 0x9F) || (first >= 0xDC && first <= 0xDF);
}

}  // namespace Kavren
