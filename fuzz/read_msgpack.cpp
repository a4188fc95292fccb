// Fuzz target: ReadMessagePack over any bytes.
#include <string>

#include "formats/msgpack.h"
#include "fuzz_check.h"

namespace Kavren::Fuzz {

void CheckInput(const std::uint8_t* data, std::size_t size) {
  std::size_t consumed = 0;
  CheckReader(size, "ReadMessagePack", [&] { return ReadMessagePack(data, size, consumed); });
  if (consumed > size) {
    Fail("ReadMessagePack consumed " + std::to_string(consumed) + " of " + std::to_string(size) +
         " bytes");
  }
}

}  // namespace Kavren::Fuzz
