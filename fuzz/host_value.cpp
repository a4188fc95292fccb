// Fuzz target: a host value tree built from the input, through HostToValue, ValueToHost
// (whose record must convert back to the same value) and release.
#include "binding/host_value.h"

#include <cstring>
#include <deque>
#include <string>

#include "abi/value.h"
#include "binding/convert.h"
#include "formats/json.h"
#include "fuzz_check.h"

namespace Kavren::Fuzz {
namespace {

// Deep enough to cross the converter's nesting limit.
constexpr int kDeepestTree = kMaxHostValueDepth + 8;

// Builds a host tree from the input bytes: one type byte per record, then its payload;
// texts and blobs take a length byte and that many bytes; containers a count byte. Counts
// the bytes of the tree it builds: that is the converter's input.
class TreeBuilder {
 public:
  TreeBuilder(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  void Build(Abi::HostValue& value, int depth) {
    treeBytes_ += sizeof(Abi::HostValue);
    if (position_ >= size_) return;
    const std::uint8_t code = Next();
    // Codes from 0xF0 are types outside the table.
    const Abi::HostWord type = code >= 0xF0 ? code : code % 11;
    switch (type) {
      case Abi::kHostValueEmpty:
        return;
      case Abi::kHostValueBool:
        return SetHostBool(value, (Next() & 1) != 0);
      case Abi::kHostValueSigned:
        return SetHostSigned(value, static_cast<std::int64_t>(Word64()));
      case Abi::kHostValueUnsigned:
        return SetHostUnsigned(value, Word64());
      case Abi::kHostValueFloat: {
        const std::uint64_t bits = Word64();
        double number;
        std::memcpy(&number, &bits, sizeof number);
        return SetHostFloat(value, number);
      }
      case Abi::kHostValueBorrowedString:
        return SetHostBorrowedString(value, Keep(Bytes()).c_str());
      case Abi::kHostValueOwnedString: {
        const std::string_view text = Bytes();
        treeBytes_ += text.size() + 1;
        return SetHostOwnedString(value, text);
      }
      case Abi::kHostValueBorrowedBlob: {
        const std::string& bytes = Keep(Bytes());
        return SetHostBorrowedBlob(
            value, {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
      }
      case Abi::kHostValueOwnedBlob: {
        const std::string_view bytes = Bytes();
        treeBytes_ += bytes.size();
        return SetHostOwnedBlob(
            value, {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
      }
      case Abi::kHostValueCollection: {
        const std::size_t count = depth < kDeepestTree ? Next() : 0;
        for (Abi::HostValue& element : MakeHostCollection(value, count)) Build(element, depth + 1);
        return;
      }
      case Abi::kHostValueStructure: {
        const std::size_t count = depth < kDeepestTree ? Next() : 0;
        treeBytes_ += count * (sizeof(Abi::HostStructMember) - sizeof(Abi::HostValue));
        for (Abi::HostStructMember& member : MakeHostStructure(value, count)) {
          const std::string_view key = Bytes();
          treeBytes_ += key.size() + 1;
          SetHostMemberKey(member, key);
          Build(member.value, depth + 1);
        }
        return;
      }
      default:
        value.type = type;
        value.data = Next();
        return;
    }
  }

  [[nodiscard]] std::size_t TreeBytes() const { return treeBytes_; }

 private:
  std::uint8_t Next() { return position_ < size_ ? data_[position_++] : 0; }

  std::uint64_t Word64() {
    std::uint64_t word = 0;
    for (int i = 0; i < 8; ++i) word = (word << 8) | Next();
    return word;
  }

  std::string_view Bytes() {
    const std::size_t announced = Next();
    const std::size_t length = std::min(announced, size_ - position_);
    const std::string_view bytes(reinterpret_cast<const char*>(data_ + position_), length);
    position_ += length;
    return bytes;
  }

  // Borrowed texts and bytes must outlive the tree; a deque keeps their addresses.
  const std::string& Keep(std::string_view bytes) {
    treeBytes_ += bytes.size() + 1;
    return borrowed_.emplace_back(bytes);
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
  std::size_t treeBytes_ = 0;
  std::deque<std::string> borrowed_;
};

}  // namespace

void CheckInput(const std::uint8_t* data, std::size_t size) {
  TreeBuilder builder(data, size);
  HostValueHolder input;
  builder.Build(input.value(), 1);

  HeldBytesMeter meter(HeldBytesBound(builder.TreeBytes()), "HostToValue and ValueToHost");
  BindingProperty value;
  MaybeType<Failure, void> error = HostToValue(value, input.value(), "fuzz");
  if (error.Failed()) {
    if (error.GetFailure().message.View().empty()) Fail("HostToValue failed without a message");
    return;
  }
  meter.Sample();

  HostValueHolder output;
  ValueToHost(output.value(), value, nullptr);
  meter.Sample();
  BindingProperty again;
  error = HostToValue(again, output.value(), "fuzz");
  if (error.Failed()) {
    Fail("ValueToHost's record does not convert back: " + error.GetFailure().message.Str());
  }
  if (WriteJson(again) != WriteJson(value)) {
    Fail("ValueToHost's record converts back to a different value:\n" + WriteJson(value) + "\n" +
         WriteJson(again));
  }
}

}  // namespace Kavren::Fuzz
