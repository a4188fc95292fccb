// Records and function tables exchanged with the host at load and start.
//
// Everything here crosses the library boundary: fixed-width fields, packed,
// cdecl functions. On i386 (the reference ABI) pointers are 4 bytes and the
// static_asserts pin every size and offset; on x64 each pointer-sized field
// ("host word") takes 8 bytes and the same field order holds.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__i386__)
#define HXA_CDECL __attribute__((cdecl))
#else
#define HXA_CDECL
#endif

namespace Kavren::Abi {

/// A pointer-sized word of a host record: 32 bits on the reference ABI.
using HostWord = std::uintptr_t;

struct HostFunctions;
struct HostValue;
struct HostEventRecord;
struct HttpRequestRecord;
struct HttpResponseRecord;

#pragma pack(push, 1)

// HostInterface, given to Start; the plugin reads only these two fields.
//   0 functions  HostFunctions*
//   4 cookie     u32, passed back to Subscribe, Unsubscribe and Call
struct HostInterface {
  HostFunctions* functions;
  std::uint32_t cookie;
};

/// [any host thread] Event callback given to Subscribe; the record and its
/// payload belong to the host and are valid during the call only.
using HostEventCallback = void(HXA_CDECL*)(const HostEventRecord* event);
/// [host worker thread] Job callback given to ScheduleJob, called once.
using HostJobCallback = void(HXA_CDECL*)(void* context);

// HostFunctions: ten entries at pointer steps; each takes the table first.
//   0 Call  4 (second entry)  8 PublishEvent  12 Subscribe  16 Unsubscribe
//  20 ScheduleJob  24 Pump  28 BeginWait  32 EndWait  36 Log
// Return values are never read by the plugin.
struct HostFunctions {
  /// [calling thread] Synchronous REST call; fills the response, which the
  /// caller releases through its own release entry.
  void(HXA_CDECL* Call)(HostFunctions* self, HttpResponseRecord* response,
                        const HttpRequestRecord* request);
  /// Never called by this plugin; keeps its place in the table.
  void(HXA_CDECL* Reserved)(HostFunctions* self, HostWord first, HostWord second);
  /// [calling thread] Delivers the event to its subscribers; the record stays the plugin's.
  void(HXA_CDECL* PublishEvent)(HostFunctions* self, const HostEventRecord* event);
  /// [calling thread] From now on the callback receives every event of that name.
  void(HXA_CDECL* Subscribe)(HostFunctions* self, const char* eventName, std::uint32_t cookie,
                             HostEventCallback callback, void* context, std::int32_t flag);
  /// [calling thread] Stops the callbacks of that name.
  void(HXA_CDECL* Unsubscribe)(HostFunctions* self, const char* eventName, std::uint32_t cookie);
  /// [calling thread] Runs the job once on a host thread after `delaySeconds`.
  void(HXA_CDECL* ScheduleJob)(HostFunctions* self, const char* label, HostJobCallback job,
                               void* context, double delaySeconds, std::int32_t flags);
  /// [calling thread] Runs one unit of the host's pending work.
  void(HXA_CDECL* Pump)(HostFunctions* self);
  /// [calling thread] Marks the thread as waiting; `reserved` is always 0.
  void(HXA_CDECL* BeginWait)(HostFunctions* self, const char* label, std::int32_t reserved);
  /// [calling thread] Ends the wait begun by BeginWait.
  void(HXA_CDECL* EndWait)(HostFunctions* self);
  /// [any thread] Writes one line to the host's log: level and plain message.
  void(HXA_CDECL* Log)(HostFunctions* self, std::int32_t level, const char* message);
};

// PluginMemoryStats (56 bytes), filled by GetMemoryStats.
//   0 peakBytes  8 peakBlocks  16 allocatedBytes  24 allocations
//  32 freedBytes  40 frees  48 reserved0  52 reserved1
struct PluginMemoryStats {
  std::uint64_t peakBytes;
  std::uint64_t peakBlocks;
  std::uint64_t allocatedBytes;
  std::uint64_t allocations;
  std::uint64_t freedBytes;
  std::uint64_t frees;
  std::uint32_t reserved0;
  std::uint32_t reserved1;
};

// PluginFunctionTable: three entries the host calls with the record's context.
struct PluginFunctionTable {
  /// [host thread] Starts the module; true when it started. The interface
  /// must stay valid until Stop returns.
  bool(HXA_CDECL* Start)(void* context, HostInterface* host);
  /// [host thread, last call] Shuts the module down and destroys it.
  void(HXA_CDECL* Stop)(void* context);
  /// [any thread] Copies the heap accounting counters; `context` is unused.
  void(HXA_CDECL* GetMemoryStats)(void* context, PluginMemoryStats* stats);
};

struct PluginApiBlock;

// PluginHostRecord (28 bytes), passed to the export. The host fills the
// first three fields; the export overwrites all seven.
//   0 major  4 minor  8 patch  12 functions  16 context  20 name  24 api
struct PluginHostRecord {
  std::uint32_t major;
  std::uint32_t minor;
  std::uint32_t patch;
  PluginFunctionTable* functions;
  void* context;
  const char* name;
  PluginApiBlock* api;
};

#pragma pack(pop)

/// The export's signature: cdecl, result ignored by the host.
using PluginLoadFunction = std::int32_t(HXA_CDECL*)(PluginHostRecord* record);
inline constexpr const char kPluginExportName[] = "load_hxa_player_messaging";

#if defined(__i386__)
static_assert(sizeof(HostInterface) == 8);
static_assert(sizeof(HostFunctions) == 40);
static_assert(offsetof(HostFunctions, Log) == 36);
static_assert(offsetof(HostFunctions, ScheduleJob) == 20);
static_assert(sizeof(PluginMemoryStats) == 56);
static_assert(offsetof(PluginMemoryStats, reserved1) == 52);
static_assert(sizeof(PluginFunctionTable) == 12);
static_assert(sizeof(PluginHostRecord) == 28);
static_assert(offsetof(PluginHostRecord, functions) == 12);
static_assert(offsetof(PluginHostRecord, api) == 24);
#endif

}  // namespace Kavren::Abi
