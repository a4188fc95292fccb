// Typing of YAML scalars in value position: tags, quoting, null forms, numbers, booleans.
#pragma once

#include <string>
#include <string_view>

#include "binding/value.h"
#include "util/failure.h"

namespace Kavren::detail {

/// Sets `target` from a scalar with resolved `tag` (null when untagged), its text and
/// whether it was single- or double-quoted. `text` must be followed by a NUL byte, as
/// the parser's scalars are. Fails (code 0) when the tag is not supported or an int or
/// float tag's text does not convert; then `target` is unchanged.
[[nodiscard]] MaybeType<Failure, void> TypeYamlScalar(BindingProperty& target, const char* tag,
                                                      std::string_view text, bool quoted);

/// TypeYamlScalar for an untagged scalar in plain, literal or folded style, which cannot
/// fail: a null form, a number, a boolean form, otherwise the text as a string. `text`
/// must be followed by a NUL byte.
void TypePlainYamlScalar(BindingProperty& target, std::string_view text);

}  // namespace Kavren::detail
