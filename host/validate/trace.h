// A validator run as data: the host operations of each thread, written and read as a
// JSON trace, and the delta-debugging reduction of a failing trace.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/core/maybe.h"

namespace Kavren::Host {

/// What one host operation does.
enum class OpKind {
  /// Calls an endpoint of a module.
  kCall,
  /// Delivers an event to every subscription of one subscribed name.
  kEvent,
  /// Runs one pending job on this thread.
  kJob,
  /// Loads and starts a module in a slot (a second module of the same library).
  kLoad,
  /// Stops the module of a slot, once no other thread is inside it.
  kStop,
  /// Reads the memory statistics.
  kStats,
};

[[nodiscard]] const char* OpKindName(OpKind kind);

/// One host operation on one thread. `seed` drives every choice the operation and the
/// host functions the plugin calls during it make.
struct TraceOp {
  int thread = 0;
  OpKind kind = OpKind::kCall;
  int module = 0;
  /// kCall: the endpoint's function name.
  std::string endpoint;
  /// kCall and kEvent: "valid", "malformed" or "out-of-range"; kCall also "unbindable"
  /// (one argument, or an unknown one, that cannot bind).
  std::string variant = "valid";
  /// kEvent: which subscribed name, modulo their count.
  int subscription = 0;
  std::uint64_t seed = 0;
};

/// How the host behaves during a run.
struct HostPolicy {
  /// Per mille of Calls answered with a failure status, with a null value, late.
  int failAnswers = 0;
  int nullAnswers = 0;
  int lateAnswers = 0;
  /// Per mille of PublishEvent calls (and host calls from inside jobs) during which the
  /// host calls an endpoint of the publishing module.
  int reenterPublish = 0;
  int reenterJobs = 0;
  /// Per mille of scheduled jobs held until after their module's Stop.
  int holdJobs = 0;
  /// Per mille of PublishEvent calls during which the host calls an endpoint other than a
  /// GET of the publishing module on another thread, and waits for that call (a bounded
  /// time) before PublishEvent returns: a change made while an announcement goes out.
  int changeDuringPublish = 0;
  /// During Stop, each host function the plugin calls re-enters the stopping module.
  bool reenterDuringStop = false;
  /// After the last Stop, also run the jobs the plugin scheduled during or after Stop.
  bool runJobsScheduledByStop = false;
  /// Sample the memory statistics on a thread of their own while the run lasts.
  bool sampleMemory = true;
  /// Check that announced resources are served by their GET at quiescence.
  bool checkResources = true;
  /// Check that every resource event is published again under "OnJsonApiEvent" with the
  /// same payload, by the same call into the plugin, before it returns.
  bool checkMirrors = false;
  /// Around each endpoint call other than a GET: run the due jobs and read the announced
  /// resources before and after; a resource the call changed must serve what was last
  /// announced. Meant for traces of one thread (other threads are never quiet).
  bool compareAfterCalls = false;
  /// The host stops module 0 from inside the N-th host function its first Start calls
  /// (0: never); a second module is then loaded in its place for the operations.
  int stopDuringStart = 0;
};

/// The stretches of a run an allocation-refusal plan can cover.
enum class RunPhase {
  kNone,
  /// The export's call.
  kExport,
  /// Start.
  kStart,
  /// The operations and the quiescence after them.
  kTraffic,
  /// Every Stop.
  kStop,
  /// From the first export to the end of the run.
  kRun,
};
[[nodiscard]] const char* RunPhaseName(RunPhase phase);

/// Allocations of the plugin the allocation interposer refuses during a run. Counting
/// starts from 1 where the phase first begins and ends where it ends.
struct RefusalPlan {
  RunPhase phase = RunPhase::kNone;
  /// The allocation numbers refused.
  std::vector<std::uint64_t> numbers;
  /// Besides, each allocation with this probability per million, keyed by `seed` and the
  /// allocation's number.
  std::uint32_t ratePerMillion = 0;
  std::uint64_t seed = 0;
  /// The numbers a failing run refused, for the reader (a replay refuses by the plan).
  std::vector<std::uint64_t> refused;
  [[nodiscard]] bool Active() const { return phase != RunPhase::kNone; }
};

/// A whole run: module 0 is loaded and started first, the threads then run their
/// operations at once (each its own in order), and every module still running is
/// stopped at the end.
struct Trace {
  static constexpr int kVersion = 1;
  std::string check;
  std::uint64_t seed = 0;
  int threads = 1;
  HostPolicy policy;
  std::vector<TraceOp> ops;
  /// Written only when active; traces without it refuse nothing.
  RefusalPlan refusals;
};

[[nodiscard]] std::string TraceToJson(const Trace& trace);
[[nodiscard]] MaybeType<Failure, Trace> TraceFromJson(const std::string& json);
[[nodiscard]] MaybeType<Failure, Trace> LoadTraceFile(const std::string& path);
[[nodiscard]] MaybeType<Failure> SaveTraceFile(const Trace& trace, const std::string& path);

/// Delta debugging (ddmin) of the operations: the smallest trace found for which
/// `fails` still holds, removing chunks and then single operations until no single
/// removal fails. `budget` bounds the number of runs of `fails`.
[[nodiscard]] Trace ShrinkTrace(const Trace& failing,
                                const std::function<bool(const Trace&)>& fails, int budget = 400);

}  // namespace Kavren::Host
