// Hostile input shapes, generated at any scale: the regression replay expands them from
// the `.shape` files under fuzz/regressions/, the adversarial bench runs them at n and 8n.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Kavren::Fuzz {

/// One hostile shape: its name (as written in a `.shape` file), the fuzz target whose
/// check takes it, and its generator at `scale` (the shape's own count, see each one).
struct AdversarialShape {
  std::string_view name;
  std::string_view target;
  std::string (*generate)(std::size_t scale);
  /// The scale of the input in the issue that described the shape.
  std::size_t referenceScale;
};

/// Every shape, in a fixed order.
[[nodiscard]] const std::vector<AdversarialShape>& AdversarialShapes();

/// The shape named `name`, or null.
[[nodiscard]] const AdversarialShape* FindAdversarialShape(std::string_view name);

/// The input described by a `.shape` file's text "<name> <scale>", or nothing when the
/// text names no shape.
[[nodiscard]] std::optional<std::string> ExpandShapeText(std::string_view text);

/// The request encoding the request target reads: "<METHOD> <path>\n", then header lines
/// "<name>: <value>\n", then, when a body follows, an empty line and the body's bytes.
[[nodiscard]] std::string EncodeRequest(std::string_view method, std::string_view path,
                                        const std::vector<std::string>& headers,
                                        const std::optional<std::string>& body);

}  // namespace Kavren::Fuzz
