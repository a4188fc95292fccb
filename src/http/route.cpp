// Routes compiled from URL templates, and matching a request path against them.
// GCC 12 reports a false "maybe uninitialized" inside <regex>'s compiler when optimising
// with the sanitizers; the standard library code is not ours to change. The pragma comes
// before the includes because the warning points into the library's headers.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "http/route.h"

#include <cstring>
#include <utility>

#include "http/url.h"

namespace Kavren {
namespace {

const char* PlaceholderExpression(PlaceholderKind kind) {
  switch (kind) {
    case PlaceholderKind::kReserved:
      return "(.*)";
    case PlaceholderKind::kFragment:
      return "#(.*)";
    case PlaceholderKind::kSimple:
      break;
  }
  return "([^/]*)";
}

}  // namespace

MaybeType<Failure, Route> Route::Compile(std::string_view urlTemplate) {
  Route route;
  if (urlTemplate.find('{') == std::string_view::npos) {
    route.text_ = std::string(urlTemplate);
    return route;
  }
  static constexpr char kSpecial[] = "^$.*+?()[]|\\";
  bool inPlaceholder = false;
  bool placeholderStart = false;
  RoutePlaceholder placeholder;
  for (const char c : urlTemplate) {
    if (!inPlaceholder) {
      if (c == '{') {
        inPlaceholder = true;
        placeholderStart = true;
      } else {
        if (c != '\0' && std::strchr(kSpecial, c) != nullptr) route.text_.push_back('\\');
        route.text_.push_back(c);
      }
      continue;
    }
    if (c == '}') {
      route.text_ += PlaceholderExpression(placeholder.kind);
      // Taken whole, leaving a fresh placeholder for the next one.
      route.placeholders_.push_back(std::exchange(placeholder, RoutePlaceholder()));
      inPlaceholder = false;
    } else if (placeholderStart && c == '+') {
      placeholder.kind = PlaceholderKind::kReserved;
    } else if (placeholderStart && c == '#') {
      placeholder.kind = PlaceholderKind::kFragment;
    } else {
      placeholder.name.push_back(c);
    }
    placeholderStart = false;
  }
  // regex_match needs the whole text to match, which anchors both ends.
  try {
    route.expression_ = std::make_shared<const std::regex>(route.text_, std::regex::ECMAScript);
  } catch (const std::regex_error& error) {
    return Failure{0, error.what()};
  }
  return route;
}

bool Route::Match(std::string_view path, RouteCaptures& captures,
                  std::size_t& capturedLength) const {
  capturedLength = 0;
  if (IsLiteral()) return path == text_;
  if (path.size() > kMaxExpressionPathLength) return false;
  std::match_results<std::string_view::const_iterator> groups;
  if (!std::regex_match(path.begin(), path.end(), groups, *expression_)) return false;
  for (std::size_t i = 0; i < placeholders_.size() && i + 1 < groups.size(); ++i) {
    const auto& group = groups[i + 1];
    const std::string_view raw(path.data() + (group.first - path.begin()),
                               static_cast<std::size_t>(group.length()));
    capturedLength += raw.size();
    captures.insert_or_assign(placeholders_[i].name, UrlDecode(raw));
  }
  return true;
}

}  // namespace Kavren
