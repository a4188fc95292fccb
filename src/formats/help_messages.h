// The API help provider's fixed texts.
#pragma once

namespace Kavren::HelpMessages {

inline constexpr const char kBuiltinHelpFunction[] = "Help";
inline constexpr const char kUnsupportedBuiltin[] = "Unsupported builtin function";

// Epytext markup.
inline constexpr const char kLineEnd[] = "\r\n";
inline constexpr const char kParagraphEnd[] = "\r\n\r\n";
inline constexpr const char kListType[] = "list[%1]";
inline constexpr const char kDictType[] = "dict[%1]";
inline constexpr const char kLinkType[] = "L{%1}";

}  // namespace Kavren::HelpMessages
