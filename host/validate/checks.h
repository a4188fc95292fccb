// The validator's checks: what a check is and runs with, the seed each derives from the
// run's master seed, and what its child answers. The table of checks is check_table.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "abi/host.h"
#include "host/validate/oracle.h"
#include "host/validate/trace.h"

namespace Kavren::Host {

struct CheckSpec;
struct CheckContext;
struct CheckBodyResult;
/// What a check runs, in its child: each check registers a function of its own.
using CheckBody = CheckBodyResult (*)(const CheckSpec& check, const CheckContext& context);

/// One check: `id` is "family.name" and never changes meaning.
struct CheckSpec {
  const char* id;
  const char* description;
  /// The time budget before --timeout-factor, in seconds (random checks add their share
  /// of --seconds).
  double budgetSeconds;
  /// Explores random orderings in rounds for its share of --seconds.
  bool random;
  /// Runs in a program of its own with the allocation interposer preloaded.
  bool interposed = false;
  /// What the check runs (RunCheckBody calls it).
  CheckBody body = nullptr;
};

/// A check's seed: the master seed mixed with the check's id, so one check reruns alone
/// with the same master seed.
[[nodiscard]] std::uint64_t CheckSeed(std::uint64_t master, const std::string& id);
/// A well-mixed 64-bit step (splitmix64).
[[nodiscard]] std::uint64_t MixSeed(std::uint64_t value);

/// What a check runs with (inside its child).
struct CheckContext {
  Abi::PluginLoadFunction load = nullptr;
  std::uint64_t seed = 0;
  int threads = 4;
  /// For random checks: which round to run (each round runs in a child of its own, so
  /// that no round inherits what an earlier one left in the process).
  std::uint64_t round = 0;
  std::vector<std::string> dictionary;
  /// Where each trace is written before it runs, so that a crash or a hang leaves the
  /// run that caused it behind (empty: nowhere).
  std::string pendingTracePath;
};

/// What a check's child answers.
struct CheckBodyResult {
  /// "pass", "fail" or "skip".
  std::string status = "pass";
  std::string message;
  std::vector<Finding> findings;
  std::uint64_t rounds = 0;
  std::uint64_t ops = 0;
  /// The failing run, when the check ran traces.
  std::optional<Trace> trace;
};

[[nodiscard]] CheckBodyResult RunCheckBody(const CheckSpec& check, const CheckContext& context);
[[nodiscard]] std::string BodyResultToJson(const CheckBodyResult& result);
[[nodiscard]] std::optional<CheckBodyResult> BodyResultFromJson(const std::string& json);

/// Runs `trace` once and answers its findings (empty: it passed).
[[nodiscard]] std::vector<Finding> RunTraceFindings(const CheckContext& context,
                                                    const Trace& trace);

}  // namespace Kavren::Host
