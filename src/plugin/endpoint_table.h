// The module's endpoint registrations as the host sees them: tickets in place of the
// router's registration pointers.
#pragma once

#include <cstdint>
#include <vector>

#include "abi/api_block.h"
#include "abi/plugin.h"

namespace Kavren {

/// The registration and request entry of each endpoint descriptor of the API block,
/// under a ticket (ModuleDirectory::NextTicket) that the descriptor carries instead of
/// the registration. A host that calls an endpoint of a stopped module passes a ticket
/// that no live module holds, so nothing of the freed router is touched. Filled once, at
/// load, before the module is listed in the directory; read-only afterwards, so the
/// directory's lookups (which read every listed module's table) need no lock of its own.
class EndpointTable {
 public:
  struct Endpoint {
    std::uintptr_t ticket;
    Abi::ApiEndpointRegistration* registration;
    Abi::ApiRequestEntry entry;
  };

  /// [at load] Replaces each descriptor's registration with a new ticket and its
  /// request entry with `moduleEntry`, keeping both here.
  void Install(Abi::PluginApiBlock& block, Abi::ApiRequestEntry moduleEntry);
  /// The endpoint of `ticket`, or null.
  [[nodiscard]] const Endpoint* Find(std::uintptr_t ticket) const;

 private:
  std::vector<Endpoint> endpoints_;
};

}  // namespace Kavren
