// libFuzzer's entry for one target: every input goes to the target's check.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Kavren::Fuzz::CheckInput(data, size);
  return 0;
}
