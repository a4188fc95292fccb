// Builds type identity records.
#include "binding/type_identity.h"

#include <cstdio>
#include <cstring>

namespace Kavren {

TypeIdentity::TypeIdentity(std::uint32_t code, const char* namedText) : hashCode(code) {
  std::memset(nameBuffer, 0, sizeof nameBuffer);
  if (namedText != nullptr) {
    name = namedText;
  } else {
    std::snprintf(nameBuffer, sizeof nameBuffer, "#%08X", static_cast<unsigned>(code));
    name = nameBuffer;
  }
}

}  // namespace Kavren
