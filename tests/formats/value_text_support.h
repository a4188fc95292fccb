// Test helpers: a kind-revealing text of a value, and reading files as bytes.
#pragma once

#include <string>

#include "binding/value.h"

namespace Kavren::Testing {

/// A compact text naming every kind: null, true, s-1, u5, f0.5, "text", b"QUI=",
/// e3, [..], {key:..}. Floats print with %.17g.
std::string KindText(const BindingProperty& value);

/// The whole file as bytes; fails the calling test when it cannot be read.
std::string ReadFileBytes(const std::string& path);

}  // namespace Kavren::Testing
