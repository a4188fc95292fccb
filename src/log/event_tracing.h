// The four event-tracing providers and the main-thread event, over a small backend.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Kavren {

/// A provider identifier in the platform's layout (16 bytes).
struct TraceProviderId {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];
};

/// An event descriptor in the platform's layout (16 bytes).
struct TraceEventDescriptor {
  std::uint16_t id;
  std::uint8_t version;
  std::uint8_t channel;
  std::uint8_t level;
  std::uint8_t opcode;
  std::uint16_t task;
  std::uint64_t keyword;
};
static_assert(sizeof(TraceEventDescriptor) == 16);

/// One item of an event's data: `size` bytes at `data`.
struct TraceDataItem {
  const void* data;
  std::uint32_t size;
};

/// Control codes of the enable callback.
inline constexpr std::uint32_t kTraceControlDisable = 0;
inline constexpr std::uint32_t kTraceControlEnable = 1;
inline constexpr std::uint32_t kTraceControlCaptureState = 2;

/// Called by the tracing system when a session enables or disables a provider;
/// `context` is the provider state given at registration.
using TraceEnableCallback = void (*)(const TraceProviderId* provider, std::uint32_t controlCode,
                                     std::uint8_t level, std::uint64_t anyKeyword,
                                     std::uint64_t allKeyword, const void* filter, void* context);

/// The three operations of the platform's event tracing. Results are the
/// platform's status codes (0 for success).
class TracingBackend {
 public:
  virtual ~TracingBackend() = default;
  /// Registers a provider; may call `callback` before returning when a
  /// session has the provider enabled already.
  virtual std::uint32_t Register(const TraceProviderId& provider, TraceEnableCallback callback,
                                 void* context, std::uint64_t* handle) = 0;
  virtual std::uint32_t Write(std::uint64_t handle, const TraceEventDescriptor& descriptor,
                              std::uint32_t count, const TraceDataItem* items) = 0;
  virtual std::uint32_t Unregister(std::uint64_t handle) = 0;
};

/// The tracing backend of this platform, or null when event tracing is
/// unavailable (always on Linux: the platform's tracing library never loads).
[[nodiscard]] TracingBackend* LoadPlatformTracingBackend() noexcept;

inline constexpr std::size_t kTraceProviderCount = 4;

/// One provider's state: handle, session settings and per-event enabled bits.
struct TraceProvider {
  const TraceProviderId* id;
  const TraceEventDescriptor* events;  // the events it defines
  std::size_t eventCount;
  std::uint32_t* eventEnabled;  // one flag per event
  std::uint64_t handle;         // 0 when not registered
  bool enabled;
  std::uint8_t level;
  std::uint64_t anyKeyword;
  std::uint64_t allKeyword;
};

/// The four providers of the plugin, registered in their fixed order.
/// Not thread-safe: set up at library load and released at unload.
class EventTracing {
 public:
  /// Works against `backend`; a null backend makes every operation a no-op.
  explicit EventTracing(TracingBackend* backend) noexcept;
  EventTracing(const EventTracing&) = delete;
  EventTracing& operator=(const EventTracing&) = delete;

  /// Reads the high-resolution clock's frequency, then, with a backend, registers the
  /// providers (skipping any whose handle is set) and writes the main-thread event of
  /// provider 2 when it is enabled. Returns 0.
  std::uint32_t SetUp() noexcept;
  /// Unregisters the providers in reverse order, each only if registered,
  /// and clears their handles. Returns 0.
  std::uint32_t Release() noexcept;

  /// Writes an event with two items: the 4-byte thread id and the thread's
  /// name including its NUL ("NULL" when `name` is null). Returns the
  /// backend's status, 0 without a backend.
  std::uint32_t WriteThreadEvent(std::uint64_t handle, const TraceEventDescriptor& descriptor,
                                 std::uint32_t threadId, const char* name) noexcept;

  /// The high-resolution clock's frequency read at set-up (0 before).
  [[nodiscard]] std::uint64_t ClockFrequency() const noexcept { return clockFrequency_; }

  /// True when provider 2 has its main-thread event enabled.
  [[nodiscard]] bool MainThreadEventEnabled() const noexcept;

  /// Provider `index` (0 to 3, in registration order).
  [[nodiscard]] TraceProvider& Provider(std::size_t index) noexcept { return providers_[index]; }

  /// The enable callback given at registration (public for the backend).
  static void OnEnable(const TraceProviderId* provider, std::uint32_t controlCode,
                       std::uint8_t level, std::uint64_t anyKeyword, std::uint64_t allKeyword,
                       const void* filter, void* context);

 private:
  TracingBackend* backend_;
  std::uint64_t clockFrequency_ = 0;
  std::uint32_t mainThreadEnabled_[1] = {0};
  TraceProvider providers_[kTraceProviderCount];
};

/// The provider identifiers, in registration order.
extern const TraceProviderId kTraceProviderIds[kTraceProviderCount];
/// The main-thread event of provider 2.
extern const TraceEventDescriptor kMainThreadEvent;

/// The process's providers, over the platform's backend (loaded on first use).
[[nodiscard]] EventTracing& ProcessEventTracing() noexcept;

/// Ties a provider set to the library's lifetime: set up when constructed, released when
/// destroyed. The library holds one as a static object, so the set-up runs when the
/// library is loaded (before the host can call its export) and the release when it is
/// unloaded or the process ends, each exactly once per load.
class EventTracingLifetime {
 public:
  explicit EventTracingLifetime(EventTracing& tracing) noexcept;
  ~EventTracingLifetime();
  EventTracingLifetime(const EventTracingLifetime&) = delete;
  EventTracingLifetime& operator=(const EventTracingLifetime&) = delete;

 private:
  EventTracing& tracing_;
};

}  // namespace Kavren
