// Text form of the plugin-API version.
#include "util/version.h"

#include "util/format.h"

namespace Kavren {

std::string VersionText(const PluginApiVersion& version) {
  // Three 32-bit numbers and two dots need at most 32 characters.
  char numbers[33];
  std::size_t length = detail::FormatVersionNumbers(numbers, sizeof numbers, version);
  std::string text(numbers, length);
  if (!version.prerelease.empty()) text.append("-").append(version.prerelease);
  if (!version.build.empty()) text.append("+").append(version.build);
  return text;
}

}  // namespace Kavren
