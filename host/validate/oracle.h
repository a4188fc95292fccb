// The validator's oracle: what must hold for any plugin of this ABI, and the findings
// of one run.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "abi/host.h"
#include "abi/http.h"

namespace Kavren::Host {

/// Kinds of finding; a shrunk trace must keep failing with the same kind.
namespace FindingKind {
inline constexpr char kMalformedReply[] = "malformed-reply";
inline constexpr char kResponseRelease[] = "response-release";
inline constexpr char kAfterStop[] = "call-after-stop";
inline constexpr char kSubscriptions[] = "subscriptions";
inline constexpr char kMemoryCounters[] = "memory-counters";
inline constexpr char kMemoryBaseline[] = "memory-baseline";
inline constexpr char kAnnouncement[] = "announcement";
inline constexpr char kResourceGet[] = "resource-get";
inline constexpr char kApiBlock[] = "api-block";
inline constexpr char kLoad[] = "load";
/// A check's precondition that the plugin itself broke (it announced resources, yet no
/// GET endpoint serves any of them), as against a plugin with nothing of that kind.
inline constexpr char kPrecondition[] = "precondition";
/// A call that entered after its module's Stop began (the host calls it from inside a
/// host function the Stop calls) was not refused: it answered a success, or called a
/// host function other than Log while it ran (an announcement, a Call, a job).
inline constexpr char kStoppingCall[] = "stopping-call";
/// A request whose arguments cannot bind did not answer the binding failure (failed,
/// status 0 or 400, a text that names an argument in single quotes), or called a host
/// function other than Log while it ran: its handler ran.
inline constexpr char kBinding[] = "binding";
/// Start answered true although the host stopped the module from inside it.
inline constexpr char kStartStopped[] = "start-stopped";
/// A resource event (an "OnJsonApiEvent_..." event with a uri and data) that the same
/// call into the plugin did not publish again under "OnJsonApiEvent" with the same
/// payload before it returned.
inline constexpr char kMirror[] = "mirror";
/// A resource that an endpoint call changed serves, at quiescence, something else than
/// its last announcement (no exception for an emptied resource: the call changed it).
inline constexpr char kUnannouncedChange[] = "unannounced-change";
/// A traffic cycle that was undone (push, its jobs, acknowledgement of what it added)
/// left the bytes in use elsewhere than where it found them.
inline constexpr char kMemoryTraffic[] = "memory-traffic";
inline constexpr char kJobLabel[] = "job-label";
/// Start answered true, yet the plugin's log lines no longer reach the host.
inline constexpr char kLogTarget[] = "log-target";
/// After Stop the plugin holds more blocks or bytes than before its load.
inline constexpr char kMemoryBlocks[] = "memory-blocks";
}  // namespace FindingKind

struct Finding {
  std::string kind;
  std::string message;
};

/// Collects findings from every thread of a run, and checks memory statistics as
/// they are sampled. Thread-safe.
class Oracle {
 public:
  void Report(const std::string& kind, const std::string& message);
  [[nodiscard]] std::vector<Finding> Findings() const;
  [[nodiscard]] bool Failed() const;
  [[nodiscard]] bool Has(const std::string& kind) const;

  /// Checks one sample against the rules and against the previous sample: no counter
  /// decreases, and nothing counted exceeds what was counted before it (the peak and
  /// the freed bytes never exceed the bytes allocated, frees never exceed allocations).
  void Sample(const Abi::PluginMemoryStats& stats);

 private:
  mutable std::mutex mutex_;
  std::vector<Finding> findings_;
  std::optional<Abi::PluginMemoryStats> last_;
};

/// Empty when a reply the plugin filled is well formed: a failure has a text and a
/// status of 100 to 599 (or 0, none set), a success no text, the value and format are known kinds
/// and a release is set; else the problem.
[[nodiscard]] std::string CheckReply(const Abi::HttpResponseRecord& response);

/// Empty when `response` answers a binding failure: failed, with status 0 (the router
/// leaves it so, and a host answers it as 400) or 400, and a text that names one of
/// `names` in single quotes, as every binding and conversion failure text does; else
/// what it answered instead.
[[nodiscard]] std::string CheckBindingFailure(const Abi::HttpResponseRecord& response,
                                              const std::vector<std::string>& names);

/// Bytes in use by the counters of `stats`.
[[nodiscard]] inline std::uint64_t InUse(const Abi::PluginMemoryStats& stats) {
  return stats.allocatedBytes - stats.freedBytes;
}

}  // namespace Kavren::Host
