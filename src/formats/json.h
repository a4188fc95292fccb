// JSON text to binding values and back: the reader, the writer and the format test.
#pragma once

#include <string>
#include <string_view>

#include "binding/value.h"

namespace Kavren {

class BindingRegistry;

/// Reads one JSON document. The text ends at its first NUL byte; an empty or
/// all-whitespace text reads as an empty value. A failure holds the message
/// "Error: <reader message> at offset <byte offset>.". Containers nest at most
/// 512 levels deep; a limit of the value tree (ValueLimitError) gives the reader
/// message "Value too large: <limit>". A refused allocation throws std::bad_alloc.
[[nodiscard]] BindingResult ReadJson(const char* text);
/// As above, over the string's characters (still ending at the first NUL).
[[nodiscard]] BindingResult ReadJson(const std::string& text);

/// Writes `value` as JSON. An empty value gives "". A null or empty `newline`
/// selects the compact form; any other text the pretty form (4-space indent)
/// with every line break written as `newline`. Enumerations are written by name
/// when `registry` knows the enumerator, otherwise as their number. Not-a-number
/// and infinite floats are written as null.
[[nodiscard]] std::string WriteJson(const BindingProperty& value,
                                    const BindingRegistry* registry = nullptr,
                                    const char* newline = nullptr);

/// True when, after leading spaces (0x20 only), the text starts with "{" or "[".
[[nodiscard]] bool IsJsonText(std::string_view text);

}  // namespace Kavren
