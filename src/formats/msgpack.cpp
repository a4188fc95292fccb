// ReadMessagePack: a loop over the bytes with an explicit stack of open containers.
#include "formats/msgpack.h"

#include <bit>
#include <cstdint>
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

// One open container. Counts and indexes are 64-bit so that a structure's doubled entry
// count never wraps.
struct MessagePackFrame {
  BindingProperty* value;
  bool isStructure;
  std::uint64_t count;
  std::uint64_t index;
  // A collection's elements when it was opened (a repeated key reopens one): items up to
  // there are written over, later ones appended.
  std::uint64_t existing;
  // The pending member name: its bytes in the input (it ends at the first NUL among them).
  const char* key;
  std::size_t keyLength;
};

class MessagePackReader {
 public:
  MessagePackReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {
    result_.ok = true;
  }

  BindingResult Run(std::size_t& consumed) {
    stack_.reserve(16);
    try {
      while (result_.ok && position_ < size_) {
        if (!Step()) break;
      }
    } catch (const ValueLimitError& limit) {
      Fail(Format(FormatMessages::kMessagePackValueLimit, position_, limit.what()));
    }
    // Structures still open at the end of the input are kept as read so far.
    structures_.CloseAll();
    consumed = static_cast<std::size_t>(position_);
    return std::move(result_);
  }

 private:
  // Reads one item into the next target; false when no target is left.
  bool Step() {
    BindingProperty* target = nullptr;
    MessagePackFrame* keyFrame = nullptr;
    for (;;) {
      if (stack_.empty()) {
        if (rootStarted_) return false;
        rootStarted_ = true;
        target = &result_.value;
        break;
      }
      MessagePackFrame& top = stack_.back();
      if (top.index == top.count) {
        if (top.isStructure) structures_.Close();
        stack_.pop_back();
        continue;
      }
      const std::uint64_t i = top.index++;
      if (!top.isStructure) {
        // By index: a repeated key writes over the collection it met first.
        target = i < top.existing ? &top.value->AtGrow(static_cast<std::size_t>(i))
                                  : &top.value->Append();
      } else if ((i & 1) == 0) {
        keyFrame = &top;
      } else {
        target = &structures_.MemberUpToZero(top.key, top.keyLength);
      }
      break;
    }

    const std::uint8_t type = data_[position_++];
    if (keyFrame != nullptr) {
      ReadKey(type, *keyFrame);
    } else {
      ReadItem(type, *target);
    }
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
    frame.key = reinterpret_cast<const char*>(data_ + position_);
    frame.keyLength = static_cast<std::size_t>(length);
    position_ += length;
  }

  void ReadItem(std::uint8_t type, BindingProperty& value) {
    std::uint64_t number = 0;
    if (type <= 0x7F) {
      value.SetSigned(type);
    } else if (type <= 0x8F) {
      OpenStructure(value, type & 0x0F);
      return;
    } else if (type <= 0x9F) {
      OpenCollection(value, type & 0x0F);
      return;
    } else if (type <= 0xBF) {
      ReadText(value, type & 0x1F, false);
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
          if (ReadUnsigned(1u << (type - 0xC4), number)) ReadText(value, number, true);
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
          if (ReadUnsigned(1u << (type - 0xD9), number)) ReadText(value, number, false);
          break;
        case 0xDC:
        case 0xDD:
          if (!ReadUnsigned(type == 0xDC ? 2 : 4, number)) return;
          OpenCollection(value, number);
          return;
        case 0xDE:
        case 0xDF:
          if (!ReadUnsigned(type == 0xDE ? 2 : 4, number)) return;
          OpenStructure(value, number);
          return;
        default:  // 0xC1, ext 8/16/32, fixext 1..16
          Fail(FormatMessages::kMessagePackUnsupportedType, position_);
          return;
      }
    }
  }

  bool CanOpen() {
    // Every frame is an open container around the target.
    if (stack_.size() >= kMaxNestingDepth) {
      Fail(FormatMessages::kMessagePackNestingTooDeep, position_);
      return false;
    }
    return true;
  }
  void OpenCollection(BindingProperty& value, std::uint64_t count) {
    if (!CanOpen()) return;
    // Nothing is reserved for the announced count: elements are added as their items
    // arrive, so a count that the data does not back costs nothing.
    value.MakeCollection();
    stack_.push_back({&value, false, count, 0, value.Elements().size(), nullptr, 0});
  }
  void OpenStructure(BindingProperty& value, std::uint64_t entries) {
    if (!CanOpen()) return;
    value.MakeStructure();
    structures_.Open(value);
    stack_.push_back({&value, true, entries * 2, 0, 0, nullptr, 0});
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

  void ReadText(BindingProperty& value, std::uint64_t length, bool blob) {
    if (!HaveBytes(length, blob ? FormatMessages::kMessagePackBytesTruncated
                                : FormatMessages::kMessagePackStringTruncated)) {
      return;
    }
    const auto* begin = data_ + position_;
    const auto bytes = static_cast<std::size_t>(length);
    if (blob) {
      value.SetBlob(std::vector<std::uint8_t>(begin, begin + bytes));
    } else {
      value.SetString(std::string_view(reinterpret_cast<const char*>(begin), bytes));
    }
    position_ += length;
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
  bool rootStarted_ = false;
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
