// URL decoding and query parsing for the router.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace Kavren {

/// Query keys to values; a later key replaces an earlier one.
using UrlQuery = std::map<std::string, std::string, std::less<>>;

/// Decodes a path component, query key or query value: "+" becomes a blank, "%" with two
/// hexadecimal digits becomes that byte. A "%" not followed by two hexadecimal digits is
/// kept as it is (a stray percent sign must not swallow the characters after it).
[[nodiscard]] std::string UrlDecode(std::string_view text);

/// The pairs of the query of `path`: the text after its first "?", split at every "&",
/// each piece split at its first "=" (no "=" gives an empty value), both halves decoded.
/// A path without "?" has no pairs.
[[nodiscard]] UrlQuery ParseQuery(std::string_view path);

}  // namespace Kavren
