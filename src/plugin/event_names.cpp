// Host event names of resource paths and server classes, and resource path patterns.
#include "plugin/event_names.h"

#include <algorithm>
#include <cstddef>

namespace Kavren {
namespace {

constexpr std::size_t kEventNameParts = 4;
constexpr std::size_t kPlatformConfigEventNameParts = 6;

// Matches one path segment (no "/" on either side) against one pattern segment. Greedy
// with a return to the last "*": linear in practice and never recursive.
bool SegmentMatches(std::string_view pattern, std::string_view text) {
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t starPattern = std::string_view::npos;
  std::size_t starText = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starPattern = p++;
      starText = t;
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (starPattern != std::string_view::npos) {
      p = starPattern + 1;
      t = ++starText;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

std::string EventNameForUri(std::string_view path) {
  std::string name = kJsonApiEventName;
  std::size_t parts = 1;
  std::size_t limit = kEventNameParts;
  std::size_t position = 0;
  while (position <= path.size() && parts < limit) {
    std::size_t end = path.find('/', position);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view segment = path.substr(position, end - position);
    if (!segment.empty()) {
      if (parts == 1 && segment == kPlatformConfigSegment) limit = kPlatformConfigEventNameParts;
      name += '_';
      name += segment;
      ++parts;
    }
    position = end + 1;
  }
  return name;
}

bool ResourcePathMatches(std::string_view pattern, std::string_view path) {
  // "*" never crosses "/", so the k-th "/" of the pattern must meet the k-th "/" of the
  // path: the texts match exactly when their segments match one by one.
  if (std::count(pattern.begin(), pattern.end(), '/') !=
      std::count(path.begin(), path.end(), '/')) {
    return false;
  }
  std::size_t patternStart = 0;
  std::size_t pathStart = 0;
  while (true) {
    const std::size_t patternEnd = std::min(pattern.find('/', patternStart), pattern.size());
    const std::size_t pathEnd = std::min(path.find('/', pathStart), path.size());
    if (!SegmentMatches(pattern.substr(patternStart, patternEnd - patternStart),
                        path.substr(pathStart, pathEnd - pathStart))) {
      return false;
    }
    if (patternEnd == pattern.size()) return true;
    patternStart = patternEnd + 1;
    pathStart = pathEnd + 1;
  }
}

std::string QrmsEventName(std::string_view serverClass) {
  std::string name = kQrmsEventName;
  name += '_';
  name += serverClass;
  std::replace(name.begin(), name.end(), '.', '_');
  return name;
}

}  // namespace Kavren
