// What the validator's checks share: the probe every check starts from, the traces they
// build (by hand or at random), running them, and the results a check answers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/validate/checks.h"
#include "host/validate/model_host.h"
#include "host/validate/oracle.h"
#include "host/validate/trace.h"

namespace Kavren::Host::detail {

/// What a check learns from one quiet cycle before it builds its traces.
struct Probe {
  std::vector<std::string> endpoints;
  std::size_t subscriptions = 0;
  /// Host functions the plugin calls during Start.
  std::uint64_t startCalls = 0;
  std::vector<std::string> subscribedNames;
  std::vector<Finding> findings;
};

/// Loads, starts and stops one module with no traffic, and answers what it showed.
[[nodiscard]] Probe ProbePlugin(const CheckContext& context);

/// What a check runs once the plugin was probed.
using ProbedBody = CheckBodyResult (*)(const CheckSpec& check, const CheckContext& context,
                                       const Probe& probe);

/// The argument variants a directed check sends, in order.
inline constexpr const char* kVariants[] = {"valid", "malformed", "out-of-range"};

/// Builds one trace op by op; each op takes the next seed of the builder's source.
class TraceBuilder {
 public:
  TraceBuilder(const CheckContext& context, const std::string& id, int threads);
  Trace& Get() { return trace_; }
  Random& Rng() { return random_; }

  void Call(int thread, const std::string& endpoint, const char* variant = "valid", int module = 0);
  void Event(int thread, int subscription, const char* variant = "valid");
  void Plain(int thread, OpKind kind, int module = 0);
  /// Every endpoint and every subscription once, then a few jobs, on `thread`; `rounds`
  /// times.
  void Traffic(const Probe& probe, int thread, int rounds = 1);

 private:
  TraceOp Op(int thread, OpKind kind, int module);
  Random random_;
  Trace trace_;
};

/// The builder of a directed check's one trace, on one thread. The directed checks look
/// only for what they are about: no resource comparison unless asked, events from one
/// thread unless asked.
[[nodiscard]] TraceBuilder DirectedTrace(const CheckContext& context, const std::string& id);

/// The threads a check that needs several runs on: --threads, and at least two.
[[nodiscard]] int SeveralThreads(const CheckContext& context);

/// A random trace's weights: how likely each kind of operation is.
struct Mix {
  int call = 40;
  int event = 25;
  int job = 15;
  int stats = 5;
  int load = 3;
  int stop = 2;
};

/// A random trace for a round: which operations, on which threads, weighted by `mix`;
/// the same `seed` gives the same trace.
[[nodiscard]] Trace RandomTrace(const Probe& probe, const CheckContext& context,
                                const std::string& id, std::uint64_t seed, const Mix& mix,
                                const HostPolicy& policy);

/// Writes `trace` where the context keeps the trace about to run (when it names a place).
void KeepPending(const CheckContext& context, const Trace& trace);

/// A failed result: the findings, the first of them as the message, and the failing run.
[[nodiscard]] CheckBodyResult Fail(std::vector<Finding> findings, const Trace* trace);
/// A skipped result and why.
[[nodiscard]] CheckBodyResult Skip(const std::string& why);

/// Runs the traces in turn; the first that fails is the check's failure. `counts`, when
/// given, adds up what the runs counted.
[[nodiscard]] CheckBodyResult RunTraces(const CheckContext& context,
                                        const std::vector<Trace>& traces,
                                        RunCounts* counts = nullptr);

/// Runs `check`'s directed trace: `rounds` of traffic on thread 0, under the directed
/// policy as `adjust` changes it; `counts` as in RunTraces.
[[nodiscard]] CheckBodyResult RunDirectedTraffic(const CheckSpec& check,
                                                 const CheckContext& context, const Probe& probe,
                                                 int rounds, void (*adjust)(HostPolicy& policy),
                                                 RunCounts* counts = nullptr);

/// A CheckBody that probes the plugin first: the probe's findings fail the check, else
/// `body` runs with what the probe showed.
template <ProbedBody body>
CheckBodyResult Probed(const CheckSpec& check, const CheckContext& context) {
  const Probe probe = ProbePlugin(context);
  if (!probe.findings.empty()) return Fail(probe.findings, nullptr);
  return body(check, context, probe);
}

}  // namespace Kavren::Host::detail
