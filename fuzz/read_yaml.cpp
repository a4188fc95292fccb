// Fuzz target: ReadYaml over any bytes.
#include <string_view>

#include "formats/yaml.h"
#include "fuzz_check.h"

namespace Kavren::Fuzz {

void CheckInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckReader(size, "ReadYaml", [&] { return ReadYaml(text); });
}

}  // namespace Kavren::Fuzz
