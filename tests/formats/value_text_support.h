// Test helpers: a kind-revealing text of a value, a shared expected value, and reading files
// as bytes.
#pragma once

#include <string>

#include "binding/value.h"

namespace Kavren::Testing {

/// A compact text naming every kind: null, true, s-1, u5, f0.5, "text", b"QUI=",
/// e3, [..], {key:..}. Floats print with %.17g.
std::string KindText(const BindingProperty& value);

/// The value of the document that the readers' tests of objects reopened by repeated keys
/// read: member a holds k0 to k19 (numbers 0 to 19), x = 1, k3 = "again" (written over), n
/// = {p: 2, q: 1} and k19 = {} (written over); member b = 0. Numbers are signed or unsigned
/// as the reader types them.
BindingProperty ReopenedObjectsMerged(bool signedNumbers);

/// The whole file as bytes; fails the calling test when it cannot be read.
std::string ReadFileBytes(const std::string& path);

}  // namespace Kavren::Testing
