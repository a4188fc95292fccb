// The module's endpoint registrations by ticket.
#include "plugin/endpoint_table.h"

#include "plugin/module_directory.h"

namespace Kavren {

void EndpointTable::Install(Abi::PluginApiBlock& block, Abi::ApiRequestEntry moduleEntry) {
  Abi::ApiEndpointDescriptor* descriptor = block.descriptors;
  for (std::uint32_t index = 0; descriptor != nullptr && index < block.count; ++index) {
    const std::uintptr_t ticket = ModuleDirectory::NextTicket();
    endpoints_.push_back(
        Endpoint{ticket, descriptor->function.registration, descriptor->requestEntry});
    descriptor->function.registration = reinterpret_cast<Abi::ApiEndpointRegistration*>(ticket);
    descriptor->requestEntry = moduleEntry;
    descriptor = descriptor->next;
  }
}

const EndpointTable::Endpoint* EndpointTable::Find(std::uintptr_t ticket) const {
  for (const Endpoint& endpoint : endpoints_) {
    if (endpoint.ticket == ticket) return &endpoint;
  }
  return nullptr;
}

}  // namespace Kavren
