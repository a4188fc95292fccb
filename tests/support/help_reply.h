// The registry's API as a host reads it from the builtin Help function's reply, one line
// per type or event, for tests that hold a layer's registrations to what the host sees.
#pragma once

#include <string>
#include <string_view>

#include "binding/registry.h"

namespace Kavren::Testing {

/// The reply of the builtin Help function over `registry` (its help records registered
/// first), read back as the host reads it.
class HelpReply {
 public:
  explicit HelpReply(BindingRegistry& registry);

  /// A record as "nameSpace.Name(field:type, list:vector<Element>, optional?:type
  /// "description") "description" [tag, tag]"; an enumeration as "Name{Value=0, ...} size
  /// 4 [tag]". The name space, descriptions, "?" and the tags appear only when set.
  /// "no type Name" when the reply does not describe it.
  [[nodiscard]] std::string Type(std::string_view name) const;
  /// An event as "nameSpace.Name(PayloadType) "description" [tag]", the same way.
  [[nodiscard]] std::string Event(std::string_view name) const;
  /// The number of events the reply describes.
  [[nodiscard]] std::size_t EventCount() const;

 private:
  BindingResult reply_;
};

}  // namespace Kavren::Testing
