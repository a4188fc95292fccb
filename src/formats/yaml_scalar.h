// Typing of YAML scalars in value position: tags, quoting, null forms, numbers, booleans.
#pragma once

#include <string>
#include <string_view>

#include "binding/value.h"

namespace Kavren::detail {

/// Sets `target` from a scalar with resolved `tag` (null when untagged), its text and
/// whether it was single- or double-quoted. `text` must be followed by a NUL byte, as
/// the parser's scalars are. False with `failure` set when the tag is
/// not supported or an int or float tag's text does not convert.
[[nodiscard]] bool TypeYamlScalar(BindingProperty& target, const char* tag, std::string_view text,
                                  bool quoted, std::string& failure);

/// TypeYamlScalar for an untagged scalar in plain, literal or folded style, which cannot
/// fail: a null form, a number, a boolean form, otherwise the text as a string. `text`
/// must be followed by a NUL byte.
void TypePlainYamlScalar(BindingProperty& target, std::string_view text);

}  // namespace Kavren::detail
