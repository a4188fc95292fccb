// `hxa-host validate`: runs the selected checks, each in a child of its own, shrinks
// what failed, and reports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/validate/report.h"

namespace Kavren::Host {

struct ValidateOptions {
  std::string plugin;
  std::string only;
  std::string skip;
  std::uint64_t seed = 0;
  bool seedGiven = false;
  int threads = 4;
  /// Seconds of random exploration, shared among the random checks selected.
  double seconds = 20;
  double timeoutFactor = 1;
  std::string jsonPath;
  std::string junitPath;
  std::string replayPath;
  std::string traceDirectory = "validate-traces";
  std::string dictionaryPath;
  bool list = false;
  bool shrink = true;
  /// Set only in a program the validator runs as a child (hidden options): the check it
  /// runs, with the seed, round and pending-trace file of its context, or the trace file.
  std::string childCheck;
  std::uint64_t childSeed = 0;
  std::uint64_t childRound = 0;
  std::string childPending;
  std::string childTrace;
};

/// The whole command: exit 0 all passed, 1 a check failed (or nothing ran), 2 a crash or
/// a timeout, 3 a usage or load error.
[[nodiscard]] int RunValidate(const ValidateOptions& options);
/// Parses `validate`'s arguments (argv[0] is "validate") and runs it; a usage error is 3.
[[nodiscard]] int RunValidateCommand(int argc, char** argv);

}  // namespace Kavren::Host
