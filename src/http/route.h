// Routes compiled from URL templates, and matching a request path against them.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "util/failure.h"

namespace Kavren {

/// Paths longer than this are never matched against an expression route: the standard
/// matcher recurses once per character and could exhaust a host thread's stack.
inline constexpr std::size_t kMaxExpressionPathLength = 1024;

/// How a placeholder of a URL template matches.
enum class PlaceholderKind {
  /// {name}: one path segment, possibly empty.
  kSimple,
  /// {+name}: the rest of the path, slashes included.
  kReserved,
  /// {#name}: a "#" and everything after it.
  kFragment,
};

struct RoutePlaceholder {
  PlaceholderKind kind = PlaceholderKind::kSimple;
  std::string name;
};

/// Placeholder names to their URL-decoded captured texts.
using RouteCaptures = std::map<std::string, std::string, std::less<>>;

/// A compiled URL template: a literal text when the template has no "{", otherwise an
/// anchored ECMAScript expression with one group per placeholder. Immutable once
/// compiled, so one route serves every call on every thread.
class Route {
 public:
  /// Compiles `urlTemplate`. Outside a placeholder "{" opens one and each of
  /// "^$.*+?()[]|\" is escaped; inside, a leading "+" or "#" picks the kind, "}" closes
  /// it. Fails (code 0, the matcher's own text) only if the expression is refused (not
  /// expected for any template, as every special character is escaped).
  [[nodiscard]] static MaybeType<Failure, Route> Compile(std::string_view urlTemplate);

  Route() = default;

  [[nodiscard]] bool IsLiteral() const { return expression_ == nullptr; }
  /// The literal text, or the expression's source text.
  [[nodiscard]] const std::string& Text() const { return text_; }
  [[nodiscard]] const std::vector<RoutePlaceholder>& Placeholders() const { return placeholders_; }

  /// True when the whole `path` (query included) matches. For an expression route each
  /// group is decoded into `captures` under its placeholder's name (a later placeholder
  /// of the same name wins) and `capturedLength` gets the total length of the raw
  /// captured texts. Paths longer than kMaxExpressionPathLength never match an
  /// expression route.
  [[nodiscard]] bool Match(std::string_view path, RouteCaptures& captures,
                           std::size_t& capturedLength) const;

 private:
  std::string text_;
  std::vector<RoutePlaceholder> placeholders_;
  // Shared, so routes copy cheaply; never modified after Compile.
  std::shared_ptr<const std::regex> expression_;
};

}  // namespace Kavren
