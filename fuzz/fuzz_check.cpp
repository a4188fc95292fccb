// The memory meter over the heap accounting and the JSON round-trip comparison.
#include "fuzz_check.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "binding/value.h"
#include "binding/value_pool.h"
#include "formats/json.h"
#include "util/accounting.h"

namespace Kavren::Fuzz {
namespace {

// The meter's state. Only one meter runs at a time, on the thread that runs the input.
struct MeterState {
  bool active = false;
  std::uint64_t heapAtStart = 0;
  std::uint64_t pagesAtStart = 0;
  std::uint64_t limit = 0;
  std::uint64_t peak = 0;
  std::string_view label;
  HeldBytesMeter::Above above = HeldBytesMeter::Above::kFail;
  bool refused = false;
};

MeterState meter;

std::uint64_t Excess(std::uint64_t now, std::uint64_t start) {
  return now > start ? now - start : 0;
}

void Exceeded(std::uint64_t held) {
  char text[256];
  std::snprintf(text, sizeof text, "%.*s holds %llu bytes, above its bound of %llu bytes",
                static_cast<int>(meter.label.size()), meter.label.data(),
                static_cast<unsigned long long>(held),
                static_cast<unsigned long long>(meter.limit));
  meter.active = false;
  Fail(text);
}

// Heap bytes only: the hooks run while the page provider may hold its lock (its region
// table allocates), so pool pages are read at the explicit samples instead. False when
// the limit is crossed and the meter refuses.
bool SampleHeap() {
  if (!meter.active) return true;
  const std::uint64_t held = Excess(Accounting::BytesInUse(), meter.heapAtStart);
  if (held > meter.peak) meter.peak = held;
  if (held <= meter.limit) return true;
  if (meter.above == HeldBytesMeter::Above::kFail) Exceeded(held);
  meter.refused = true;
  return false;
}

void* MeteredAllocate(void*, std::size_t size) {
  const Accounting::Hooks& counting = Accounting::CountingHooks();
  void* block = counting.allocate(counting.user, size);
  if (!SampleHeap()) {
    counting.free(counting.user, block);
    return nullptr;
  }
  return block;
}

void MeteredFree(void*, void* block) {
  const Accounting::Hooks& counting = Accounting::CountingHooks();
  counting.free(counting.user, block);
}

void* MeteredReallocate(void*, void* block, std::size_t size) {
  const Accounting::Hooks& counting = Accounting::CountingHooks();
  void* resized = counting.reallocate(counting.user, block, size);
  // A block already moved cannot be refused any more; the next allocation is.
  static_cast<void>(SampleHeap());
  return resized;
}

char* MeteredDuplicateText(void*, const char* text) {
  const Accounting::Hooks& counting = Accounting::CountingHooks();
  char* copy = counting.duplicateText(counting.user, text);
  if (!SampleHeap()) {
    counting.free(counting.user, copy);
    return nullptr;
  }
  return copy;
}

std::size_t MeteredBlockSize(void*, const void* block) {
  const Accounting::Hooks& counting = Accounting::CountingHooks();
  return counting.blockSize(counting.user, block);
}

constexpr Accounting::Hooks kMeteredHooks{MeteredAllocate,      MeteredFree,      MeteredReallocate,
                                          MeteredDuplicateText, MeteredBlockSize, nullptr};

std::uint64_t PoolBytes() {
  return static_cast<std::uint64_t>(PageProvider::Instance().PagesInUse()) *
         PageProvider::kPageSize;
}

std::string Base64(std::span<const std::uint8_t> bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::uint32_t group = (std::uint32_t{bytes[i]} << 16) |
                                (i + 1 < bytes.size() ? std::uint32_t{bytes[i + 1]} << 8 : 0) |
                                (i + 2 < bytes.size() ? std::uint32_t{bytes[i + 2]} : 0);
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    text += i + 1 < bytes.size() ? kAlphabet[(group >> 6) & 63] : '=';
    text += i + 2 < bytes.size() ? kAlphabet[group & 63] : '=';
  }
  return text;
}

std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

// RapidJSON's default number parsing is not always correctly rounded.
bool CloseFloats(double written, double read) {
  if (written == read) return true;
  if (std::signbit(written) != std::signbit(read)) return false;
  return std::fabs(written - read) <= std::fabs(written) * 1e-15;
}

bool HasNulKey(const BindingProperty& value) {
  if (value.Is(ValueKind::kCollection)) {
    for (const BindingProperty& element : value.Elements()) {
      if (HasNulKey(element)) return true;
    }
    return false;
  }
  return !value.ForEachMember([](std::string_view key, const BindingProperty& member) {
    return key.find('\0') == std::string_view::npos && !HasNulKey(member);
  });
}

bool Equal(const BindingProperty& original, const BindingProperty& reread) {
  switch (original.Kind()) {
    case ValueKind::kEmpty:
      return reread.Is(ValueKind::kEmpty);
    case ValueKind::kBool:
      return reread.Is(ValueKind::kBool) && reread.GetBool() == original.GetBool();
    case ValueKind::kSigned: {
      const std::int64_t number = original.GetSigned();
      if (number < 0) return reread.Is(ValueKind::kSigned) && reread.GetSigned() == number;
      return reread.Is(ValueKind::kUnsigned) &&
             reread.GetUnsigned() == static_cast<std::uint64_t>(number);
    }
    case ValueKind::kUnsigned:
      return reread.Is(ValueKind::kUnsigned) && reread.GetUnsigned() == original.GetUnsigned();
    case ValueKind::kFloat: {
      const double number = original.GetFloat();
      if (!std::isfinite(number)) return reread.Is(ValueKind::kEmpty);
      return reread.Is(ValueKind::kFloat) && CloseFloats(number, reread.GetFloat());
    }
    case ValueKind::kString:
      return reread.Is(ValueKind::kString) && reread.GetString() == UpToNul(original.GetString());
    case ValueKind::kBlob:
      return reread.Is(ValueKind::kString) && reread.GetString() == Base64(original.GetBlob());
    case ValueKind::kEnum: {
      const std::int64_t number = original.GetEnum().value;
      return number < 0 ? reread.Is(ValueKind::kSigned) && reread.GetSigned() == number
                        : reread.Is(ValueKind::kUnsigned) &&
                              reread.GetUnsigned() == static_cast<std::uint64_t>(number);
    }
    case ValueKind::kCollection: {
      if (!reread.Is(ValueKind::kCollection) || reread.Size() != original.Size()) return false;
      for (std::size_t i = 0; i < original.Size(); ++i) {
        if (!Equal(original.At(i), reread.At(i))) return false;
      }
      return true;
    }
    case ValueKind::kStructure: {
      if (!reread.Is(ValueKind::kStructure) || reread.Size() != original.Size()) return false;
      return original.ForEachMember([&](std::string_view key, const BindingProperty& member) {
        return reread.Has(key) && Equal(member, reread.Find(key));
      });
    }
  }
  return false;
}

// Sums the shortest JSON text of every value: quotes around texts and keys, one
// separator per item or member, and at least one character per scalar.
class JsonLengthVisitor final : public BindingVisitor {
 public:
  void VisitEmpty() override { total += 4; }
  void VisitBool(bool value) override { total += value ? 4 : 5; }
  void VisitSigned(std::int64_t) override { total += 1; }
  void VisitUnsigned(std::uint64_t) override { total += 1; }
  void VisitFloat(double) override { total += 1; }
  void VisitString(std::string_view text) override { total += text.size() + 2; }
  void VisitBlob(std::span<const std::uint8_t> bytes) override {
    total += (bytes.size() + 2) / 3 * 4 + 2;
  }
  void VisitEnum(BindingEnumValue) override { total += 1; }
  void BeginCollection(std::size_t count) override { total += Brackets(count); }
  void BeginStructure(std::size_t count) override { total += Brackets(count); }
  void BeginMember(std::string_view key) override { total += key.size() + 3; }

  std::uint64_t total = 0;

 private:
  // The brackets and the commas between the items.
  static std::uint64_t Brackets(std::size_t count) { return count == 0 ? 2 : count + 1; }
};

}  // namespace

std::uint64_t JsonTextLowerBound(const BindingProperty& value) {
  if (value.Is(ValueKind::kEmpty)) return 0;
  JsonLengthVisitor visitor;
  value.Visit(visitor);
  return visitor.total;
}

std::uint64_t HeldBytesBound(std::uint64_t inputBytes) { return 48 * inputBytes + (1u << 20); }

void Fail(std::string_view what) {
  std::fprintf(stderr, "fuzz check failed: %.*s\n", static_cast<int>(what.size()), what.data());
  std::fflush(stderr);
  std::abort();
}

HeldBytesMeter::HeldBytesMeter(std::uint64_t limit, std::string_view label, Above above) {
  if (meter.active) Fail("two memory meters at once");
  meter = MeterState{true, Accounting::BytesInUse(), PoolBytes(), limit, 0, label, above, false};
  Accounting::InstallHooks(&kMeteredHooks);
}

HeldBytesMeter::~HeldBytesMeter() {
  Sample();
  Accounting::InstallHooks(nullptr);
  meter.active = false;
}

void HeldBytesMeter::Sample() {
  if (!meter.active) return;
  const std::uint64_t held =
      Excess(Accounting::BytesInUse(), meter.heapAtStart) + Excess(PoolBytes(), meter.pagesAtStart);
  if (held > meter.peak) meter.peak = held;
  if (held > meter.limit && meter.above == Above::kFail) Exceeded(held);
}

std::uint64_t HeldBytesMeter::Peak() const { return meter.peak; }

bool HeldBytesMeter::Refused() const { return meter.refused; }

bool ReadsBackEqual(const BindingProperty& original, const BindingProperty& reread,
                    bool& comparable) {
  comparable = !HasNulKey(original);
  return !comparable || Equal(original, reread);
}

void CheckReadsBack(const BindingProperty& value, const std::string& text, std::string_view label) {
  BindingResult reread;
  {
    HeldBytesMeter meter(HeldBytesBound(text.size()), "reading the written JSON back");
    reread = ReadJson(text);
    meter.Sample();
  }
  if (!reread.ok) {
    Fail(std::string(label) + ": the written JSON does not read back: " + reread.ErrorText() +
         "\n" + text.substr(0, 2000));
  }
  bool comparable = true;
  if (!ReadsBackEqual(value, reread.value, comparable)) {
    Fail(std::string(label) + ": the written JSON reads back different: " + text.substr(0, 2000) +
         "\nreads back as " + WriteJson(reread.value).substr(0, 2000));
  }
}

}  // namespace Kavren::Fuzz
