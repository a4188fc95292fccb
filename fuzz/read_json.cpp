// Fuzz target: ReadJson over any bytes (the text ends at its first NUL byte).
#include <string>

#include "formats/json.h"
#include "fuzz_check.h"

namespace Kavren::Fuzz {

void CheckInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckReader(size, "ReadJson", [&] { return ReadJson(text); });
}

}  // namespace Kavren::Fuzz
