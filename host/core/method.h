// HTTP method codes of the host records and their texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace Kavren::Host {

/// "DELETE" to "PUT" for codes 1 to 7; empty for 0, 8 (custom) and unknown codes.
[[nodiscard]] inline const char* MethodText(std::int32_t method) {
  static constexpr const char* kTexts[] = {"",        "DELETE", "GET",  "HEAD",
                                           "OPTIONS", "PATCH",  "POST", "PUT"};
  return method >= 0 && method < 8 ? kTexts[method] : "";
}

/// The code of a method text (exact, upper case); nothing for any other text.
[[nodiscard]] inline std::optional<std::int32_t> MethodCode(std::string_view text) {
  for (std::int32_t code = 1; code < 8; ++code) {
    if (text == MethodText(code)) return code;
  }
  return std::nullopt;
}

}  // namespace Kavren::Host
