// The epytext texts of the API help: escaping, type texts and one text per item.
#pragma once

#include <string>
#include <string_view>

#include "binding/registry.h"

namespace Kavren {

/// A leading "-" becomes "E{-}"; every "{" becomes "E{lb}" and every "}" "E{rb}".
[[nodiscard]] std::string EscapeEpytext(std::string_view text);

/// "bool" .. "bytearray" for the kinds 1 to 14, "list[element]" and "dict[element]" for
/// vectors and maps, "L{name}" for a registered enumeration or record ("enum" / "struct"
/// when the reference has no descriptor), "callback", and "" for any other kind.
[[nodiscard]] std::string EpytextTypeText(const TypeRef& type);

// The text of one item; every line ends with "\r\n".

[[nodiscard]] std::string EpytextFunctionText(const FunctionRecord& function);
/// Records list their fields, enumerations their enumerators by value.
[[nodiscard]] std::string EpytextTypeHelpText(const TypeDescriptor& type);
[[nodiscard]] std::string EpytextEventText(const EventRecord& event);

}  // namespace Kavren
