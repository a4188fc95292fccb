// The plugin's API block: the description of its endpoints, types and events
// that the entry hands to the host in the host record's `api` field.
#pragma once

#include <cstddef>
#include <cstdint>

#include "abi/host.h"

namespace Kavren::Abi {

// Description records the block points to, laid out in abi/plugin.h; the router
// builds them.
struct ApiEndpointDescriptor;
struct ApiTypeRecord;
struct ApiEventRecord;

#pragma pack(push, 1)

// PluginApiBlock (24 bytes), kept inside the module; every array belongs to the
// module's router and stays valid until Stop returns. Empty (all zero) when
// nothing has been described.
//   0 descriptors  4 count  8 types  12 typeCount  16 events  20 eventCount
struct PluginApiBlock {
  ApiEndpointDescriptor* descriptors;
  std::uint32_t count;
  ApiTypeRecord* types;
  std::uint32_t typeCount;
  ApiEventRecord* events;
  std::uint32_t eventCount;
};

#pragma pack(pop)

#if defined(__i386__)
static_assert(sizeof(PluginApiBlock) == 24);
static_assert(offsetof(PluginApiBlock, types) == 8);
static_assert(offsetof(PluginApiBlock, events) == 16);
static_assert(offsetof(PluginApiBlock, eventCount) == 20);
#endif

}  // namespace Kavren::Abi
