// Server-class associations of registered records, and "__class" tagging of their values.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "binding/descriptors.h"
#include "binding/type_identity.h"
#include "binding/value.h"

namespace Kavren {

/// The member that names a value's server class in outgoing server calls.
inline constexpr char kServerClassMember[] = "__class";

/// Which registered records stand for which server classes: by registered name and by
/// type identity. [thread-safe] Every operation takes the table's lock.
class ServerClassTable {
 public:
  ServerClassTable() = default;
  ServerClassTable(const ServerClassTable&) = delete;
  ServerClassTable& operator=(const ServerClassTable&) = delete;

  /// Associates the record registered as `registeredName`, whose identity is `identity`,
  /// with `serverClass`; an earlier association of the name or identity is replaced.
  /// A null `identity` associates the name only.
  void Associate(std::string_view registeredName, const TypeIdentity* identity,
                 std::string_view serverClass);
  /// The server class of a registered name, if it has one.
  [[nodiscard]] std::optional<std::string> ClassForName(std::string_view registeredName) const;
  /// The server class of a type identity (compared by code), if it has one.
  [[nodiscard]] std::optional<std::string> ClassForType(const TypeIdentity* identity) const;
  /// Forgets every association.
  void Clear();

 private:
  // Guards both tables.
  mutable std::mutex lock_;
  std::map<std::string, std::string, std::less<>> byName_;
  std::map<std::uint32_t, std::string> byType_;
};

/// Tags `value`, of the type `type`, with its server class. Only types whose descriptor
/// has an association are touched: a record gets the member "__class" (added, or its
/// value replaced), a vector each of its record elements, a map each of its record
/// member values; then the fields of each tagged record are tagged the same way, in
/// registration order, so server records nested in server records are tagged too.
/// Values of other kinds than the type describes (an empty element, a text where a
/// record is described) are left as they are.
void TagServerClass(BindingProperty& value, const TypeRef& type, const ServerClassTable& classes);

/// As above for a value converted from the record described by `descriptor`.
void TagServerClass(BindingProperty& value, const TypeDescriptor& descriptor,
                    const ServerClassTable& classes);

}  // namespace Kavren
