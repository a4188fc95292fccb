// What every fuzz target shares: the entry each target defines, the meter that holds a
// run to its memory bound, and the comparison behind the JSON round trips.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "binding/value.h"
#include "formats/json.h"

namespace Kavren::Fuzz {

/// Defined once per target: runs one input through the entry point and aborts (with a
/// message on stderr) on any fault. The same function serves libFuzzer and the replay.
void CheckInput(const std::uint8_t* data, std::size_t size);

/// The most a run over `inputBytes` bytes may hold at its peak: 48 bytes per input byte
/// plus 1 MiB.
[[nodiscard]] std::uint64_t HeldBytesBound(std::uint64_t inputBytes);

/// Reports `what` on stderr and aborts, so that libFuzzer keeps the input and the replay
/// test fails.
[[noreturn]] void Fail(std::string_view what);

/// Measures the bytes a stretch of work holds beyond what was held when it started: the
/// heap accounting's bytes in use plus the value pools' pages. While it lives, every
/// counted allocation is sampled, and the first sample above the limit fails the run at
/// once (before a runaway allocation can exhaust the machine). One at a time.
class HeldBytesMeter {
 public:
  /// What happens above the limit: the run fails, or (for measuring) the heap refuses
  /// the allocation that crossed it.
  enum class Above { kFail, kRefuse };

  /// Starts measuring; `limit` is the most the work may hold, `label` names it in the
  /// failure message.
  HeldBytesMeter(std::uint64_t limit, std::string_view label, Above above = Above::kFail);
  ~HeldBytesMeter();
  HeldBytesMeter(const HeldBytesMeter&) = delete;
  HeldBytesMeter& operator=(const HeldBytesMeter&) = delete;

  /// Samples now (pool pages are taken without a heap allocation to trigger a sample).
  void Sample();
  /// The highest sample so far.
  [[nodiscard]] std::uint64_t Peak() const;
  /// True once an allocation was refused (Above::kRefuse).
  [[nodiscard]] bool Refused() const;
};

/// True when `reread` is what reading the JSON text of `original` must give: numbers
/// equal by value (non-negative signed as unsigned, floats within a few units in the
/// last place), non-finite floats as empty, blobs as their base64 text, texts up to their
/// first NUL byte. Sets `comparable` false (and answers true) when `original` has a
/// member key holding a NUL byte, whose JSON key reads back cut and may merge.
[[nodiscard]] bool ReadsBackEqual(const BindingProperty& original, const BindingProperty& reread,
                                  bool& comparable);

/// The fewest bytes `value` can take as JSON text: what a value expands to when written
/// or converted, every use of a shared text counted. Linear in the number of values.
[[nodiscard]] std::uint64_t JsonTextLowerBound(const BindingProperty& value);

/// Runs a reader over `inputBytes` bytes and holds it to HeldBytesBound(inputBytes), the
/// writing of a value it read included. A failure must carry a message; a value must be
/// written as JSON that reads back equal (see ReadsBackEqual), that second read held to
/// the bound of the written text.
template <class Read>
void CheckReader(std::size_t inputBytes, std::string_view label, Read&& read);

/// The second half of CheckReader: `text` is `value` written as JSON.
void CheckReadsBack(const BindingProperty& value, const std::string& text, std::string_view label);

template <class Read>
void CheckReader(std::size_t inputBytes, std::string_view label, Read&& read) {
  BindingResult result;
  std::string text;
  {
    HeldBytesMeter meter(HeldBytesBound(inputBytes), label);
    result = read();
    meter.Sample();
    if (result.ok) {
      // Checked before writing: a value that expands beyond the bound must fail here,
      // not after the writer has taken gigabytes.
      const std::uint64_t written = JsonTextLowerBound(result.value);
      if (written > HeldBytesBound(inputBytes)) {
        Fail(std::string(label) + " read " + std::to_string(inputBytes) +
             " bytes into a value whose JSON text takes at least " + std::to_string(written) +
             " bytes, above the bound of " + std::to_string(HeldBytesBound(inputBytes)));
      }
      text = WriteJson(result.value);
    }
  }
  if (!result.ok) {
    if (result.ErrorText().empty()) Fail(std::string(label) + " failed without a message");
    return;
  }
  CheckReadsBack(result.value, text, label);
}

}  // namespace Kavren::Fuzz
