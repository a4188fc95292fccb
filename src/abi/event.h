// The event record: what PublishEvent receives and what an event callback is given.
#pragma once

#include <cstddef>
#include <cstdint>

#include "abi/host.h"
#include "abi/value.h"

namespace Kavren::Abi {

#pragma pack(push, 1)

// HostEventRecord (24 bytes on i386, 44 on x64).
//   0 name     const char*, zero-terminated event name
//   4 payload  HostValue (12 bytes)
//  16 flag     i32
//  20 context  in records the host delivers: the context given to Subscribe;
//              the plugin's published records leave it 0 and the host never reads it
// The record and everything it points to belong to whoever built it and are valid
// during the call only.
struct HostEventRecord {
  const char* name;
  HostValue payload;
  std::int32_t flag;
  void* context;
};

#pragma pack(pop)

#if defined(__i386__)
static_assert(sizeof(HostEventRecord) == 24);
static_assert(offsetof(HostEventRecord, payload) == 4);
static_assert(offsetof(HostEventRecord, flag) == 16);
static_assert(offsetof(HostEventRecord, context) == 20);
#endif

}  // namespace Kavren::Abi
