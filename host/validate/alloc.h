// The alloc.* family's machinery: the allocation interposer as the validator drives it,
// and runs under a refusal plan, held to what a plugin promises while its allocations
// are refused.
//
// The contract, beside the generic oracle (which already requires a failed reply to carry
// a text and a status of 0 or 100 to 599, and Stop to release every subscription):
//  - after the run, the plugin's counters hold no more bytes in use than before its load,
//    and no more blocks (allocations - frees) than before plus the allocations refused
//    (a plugin may count a refused allocation as a block of 0 bytes, as ours does);
//  - when the refusals fell in the export or in Start and Start answered true, a run that
//    logs after Start without refusals still logs after Start: the operations after
//    Start run unrefused, so a module whose logging works writes lines there, and one
//    whose log target was lost writes none;
//  - jobs carry a non-empty label (a rule of the host model, for every run).
// A refusal is no fault in itself: a failed load, a Start that answers false or a failed
// reply are what a plugin may answer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "abi/host.h"
#include "host/core/maybe.h"
#include "host/validate/model_host.h"
#include "host/validate/trace.h"

namespace Kavren::Host {

/// hxa-alloc-interposer.so beside the running program.
[[nodiscard]] std::string InterposerPath();
/// The NAME=value entries a child's environment needs to run with the interposer:
/// LD_PRELOAD, and ASAN_OPTIONS that let it stand before the sanitizer's runtime.
[[nodiscard]] std::vector<std::string> InterposerEnvironment();
/// Whether this process runs with the interposer.
[[nodiscard]] bool InterposerLoaded();

/// What one run under a refusal plan did.
struct RefusedRun {
  TraceOutcome outcome;
  /// The plugin's allocations counted in the plan's phase, and those refused.
  std::uint64_t counted = 0;
  std::uint64_t refused = 0;
  /// The numbers of the first refusals.
  std::vector<std::uint64_t> refusedNumbers;
  /// Whether the export left a complete record and Start answered true.
  bool loaded = false;
  bool started = false;
};

/// Runs `trace` under its refusal plan and checks the contract. Before it, once per
/// process for the same operations and phase, two runs that refuse nothing (but count)
/// make what lives for the process and give the numbers the rules compare with. Without
/// the interposer nothing runs and the outcome says why in `skipped`.
[[nodiscard]] RefusedRun RunRefusedTrace(Abi::PluginLoadFunction load, const Trace& trace,
                                         const std::vector<std::string>& dictionary);

/// Runs `trace` in this process and answers the oracle's findings: under its refusal plan
/// (as RunRefusedTrace) when it has an active one, else as it is.
[[nodiscard]] TraceOutcome RunTrace(Abi::PluginLoadFunction load, const Trace& trace,
                                    const std::vector<std::string>& dictionary);

}  // namespace Kavren::Host
