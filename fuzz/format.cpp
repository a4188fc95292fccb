// Fuzz target: the formatter with format texts, argument kinds and values from the input.
#include "util/format.h"

#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "util/failure.h"
#include "util/version.h"

namespace Kavren::Fuzz {
namespace {

// Reads the input front to back; past its end every read gives zeros.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }
  std::uint64_t Word64() {
    std::uint64_t word = 0;
    for (int i = 0; i < 8; ++i) word = (word << 8) | Byte();
    return word;
  }
  std::string Text() {
    const std::size_t announced = Byte();
    const std::size_t length = std::min(announced, size_ - position_);
    std::string text(reinterpret_cast<const char*>(data_ + position_), length);
    position_ += length;
    return text;
  }
  std::string Rest() {
    std::string text(reinterpret_cast<const char*>(data_ + position_), size_ - position_);
    position_ = size_;
    return text;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

// One argument of every kind; each call uses the ones its kind bytes choose.
struct Arguments {
  std::string textStorage;
  const char* text = nullptr;
  std::string string;
  std::string_view view;
  FailureMessage message;
  char character = 0;
  std::int32_t int32 = 0;
  std::uint32_t uint32 = 0;
  std::int64_t int64 = 0;
  std::uint64_t uint64 = 0;
  double number = 0;
  MaybeType<Failure, void> outcome;
  Failure failure;
  PluginType type;
  PluginApiVersion version;
};

constexpr std::size_t kMostArguments = 10;

}  // namespace

void CheckInput(const std::uint8_t* data, std::size_t size) {
  Reader input(data, size);
  const std::size_t high = input.Byte();
  const std::size_t length = (high << 8 | input.Byte()) % 4200;
  const std::size_t count = input.Byte() % (kMostArguments + 1);
  std::vector<Arguments> arguments(count);
  std::vector<const detail::FormatKind*> kinds;
  std::vector<const void*> values;
  for (Arguments& argument : arguments) {
    switch (input.Byte() % 15) {
      case 0:
        argument.textStorage = input.Text();
        argument.text = argument.textStorage.c_str();
        kinds.push_back(&detail::kTextKind);
        values.push_back(&argument.text);
        break;
      case 1:
        argument.string = input.Text();
        kinds.push_back(&detail::kStringKind);
        values.push_back(&argument.string);
        break;
      case 2:
        argument.string = input.Text();
        argument.view = argument.string;
        kinds.push_back(&detail::kStringViewKind);
        values.push_back(&argument.view);
        break;
      case 3:
        argument.message = FailureMessage(input.Text());
        kinds.push_back(&detail::kFailureMessageKind);
        values.push_back(&argument.message);
        break;
      case 4:
        argument.character = static_cast<char>(input.Byte());
        kinds.push_back(&detail::kCharKind);
        values.push_back(&argument.character);
        break;
      case 5:
        argument.int32 = static_cast<std::int32_t>(input.Word64());
        kinds.push_back(&detail::kInt32Kind);
        values.push_back(&argument.int32);
        break;
      case 6:
        argument.uint32 = static_cast<std::uint32_t>(input.Word64());
        kinds.push_back(&detail::kUInt32Kind);
        values.push_back(&argument.uint32);
        break;
      case 7:
        argument.int64 = static_cast<std::int64_t>(input.Word64());
        kinds.push_back(&detail::kInt64Kind);
        values.push_back(&argument.int64);
        break;
      case 8:
        argument.uint64 = input.Word64();
        kinds.push_back(&detail::kUInt64Kind);
        values.push_back(&argument.uint64);
        break;
      case 9: {
        const std::uint64_t bits = input.Word64();
        std::memcpy(&argument.number, &bits, sizeof bits);
        kinds.push_back(&detail::kDoubleKind);
        values.push_back(&argument.number);
        break;
      }
      case 10:
        if ((input.Byte() & 1) != 0) {
          argument.outcome = Failure{static_cast<std::int32_t>(input.Word64()), input.Text()};
        }
        kinds.push_back(&detail::kOutcomeKind);
        values.push_back(&argument.outcome);
        break;
      case 11:
        argument.failure = Failure{static_cast<std::int32_t>(input.Word64()), input.Text()};
        kinds.push_back(&detail::kFailureKind);
        values.push_back(&argument.failure);
        break;
      case 12:
        argument.type = PluginType{input.Text(), input.Text()};
        kinds.push_back(&detail::kPluginTypeKind);
        values.push_back(&argument.type);
        break;
      default:
        argument.version.major = static_cast<std::uint32_t>(input.Word64());
        argument.version.minor = static_cast<std::uint32_t>(input.Word64());
        argument.version.patch = static_cast<std::uint32_t>(input.Word64());
        argument.version.prerelease = input.Text();
        argument.version.build = input.Text();
        kinds.push_back(&detail::kVersionKind);
        values.push_back(&argument.version);
        break;
    }
  }
  const std::string format = input.Rest();

  HeldBytesMeter meter(HeldBytesBound(size), "formatting");
  // Exactly `length` bytes, so that a write past the buffer is caught.
  std::vector<char> buffer(length);
  const std::size_t written =
      FormatToBuffer(buffer.data(), length, format.c_str(), kinds.data(), values.data(), count);
  if (length == 0 ? written != 0 : written >= length || buffer[written] != '\0') {
    Fail("FormatToBuffer wrote " + std::to_string(written) + " characters into a buffer of " +
         std::to_string(length) + " without terminating them");
  }
  const std::string formatted =
      detail::FormatWithTable(format.c_str(), kinds.data(), values.data(), count);
  if (formatted.size() > 4095) {
    Fail("Format gave " + std::to_string(formatted.size()) + " characters");
  }
  if (length == 4096 && std::string_view(buffer.data(), written) != formatted) {
    Fail("Format and FormatToBuffer over 4096 characters disagree");
  }
}

}  // namespace Kavren::Fuzz
