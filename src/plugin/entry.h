// The plugin entry: creates the plugin's module and fills the host record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "abi/host.h"
#include "plugin/app_module.h"

namespace Kavren {

/// What the entry needs to know of the plugin it loads: its names and how to
/// construct its module. Lets the export, which sees the plugin's own module,
/// hand it to this folder without this folder depending on it.
struct PluginDefinition {
  const char* shortName;
  const char* typeName;  // "backend" or "frontend"
  std::size_t moduleSize;
  /// Constructs the module in `memory` (zeroed, `moduleSize` bytes, heap-aligned).
  AppModule* (*construct)(void* memory);
};

/// The definition of a plugin whose module is `Module`.
template <class Module>
constexpr PluginDefinition DefinePlugin(const char* shortName, const char* typeName) {
  static_assert(alignof(Module) <= alignof(std::max_align_t), "heap blocks are not over-aligned");
  return PluginDefinition{shortName, typeName, sizeof(Module),
                          [](void* memory) -> AppModule* { return ::new (memory) Module(); }};
}

/// Result codes of LoadPlugin; the host ignores them.
inline constexpr std::int32_t kLoadSucceeded = 0;
inline constexpr std::int32_t kLoadFailed = 1;

/// The load sequence: allocates and constructs the module through the accounting
/// allocator, reports an incompatible core API (and goes on), stores the core's
/// version, names the module, sets its API tags, registers types and endpoints,
/// builds the API block and writes the record. The record carries the plugin's
/// own version in every case; when the module could not be made, its function
/// table, context and API block are null and kLoadFailed is returned. Throws
/// only what the standard library raises, after releasing the module.
[[nodiscard]] std::int32_t LoadPlugin(Abi::PluginHostRecord* record,
                                      const PluginDefinition& definition);

}  // namespace Kavren
