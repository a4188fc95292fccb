// YAML text to binding values (reading only, one document).
#pragma once

#include <string_view>

#include "binding/value.h"

namespace Kavren {

/// Reads a YAML text holding at most one document (all of its bytes; an empty
/// stream reads as an empty value). Plain scalars are typed (null forms, numbers,
/// booleans, otherwise strings); quoted scalars are strings; the str, int, float and
/// bool tags are honoured and any other scalar tag is refused. Aliases copy the
/// anchored value. Failures name the 1-based line and column of the event (the
/// parser's own errors keep its 0-based position). Containers nest at most 512
/// levels deep, alias copies included, and alias copies may expand to at most 32
/// bytes per byte of text plus 1 MiB. A limit of the value tree (ValueLimitError) ends
/// the read with "Value too large: <limit>. At line: L col: C"; a refused allocation
/// throws std::bad_alloc, libyaml's parser released all the same.
[[nodiscard]] BindingResult ReadYaml(std::string_view text);

/// True when, after leading spaces (0x20 only), the text begins with "---".
[[nodiscard]] bool IsYamlText(std::string_view text);

}  // namespace Kavren
