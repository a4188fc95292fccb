// The validator's reports: text ending in one SUCCESS or FAILURE line, a versioned JSON
// document and JUnit XML.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/validate/oracle.h"

namespace Kavren::Host {

/// How one check ended.
enum class CheckStatus { kPass, kFail, kCrash, kTimeout, kSkip };
[[nodiscard]] const char* CheckStatusName(CheckStatus status);

struct CheckResult {
  std::string id;
  std::string description;
  CheckStatus status = CheckStatus::kPass;
  double seconds = 0;
  std::uint64_t seed = 0;
  std::string message;
  std::vector<Finding> findings;
  /// A crash's backtrace, a sanitizer report, or the stacks after a timeout.
  std::string diagnostics;
  std::uint64_t rounds = 0;
  std::uint64_t ops = 0;
  /// The failing run and its shrunk form as JSON traces (empty when none), and where
  /// they were saved.
  std::string traceJson;
  std::string shrunkTraceJson;
  std::string tracePath;
  std::string shrunkTracePath;
  /// The command line that runs this check again.
  std::string command;
};

struct RunSummary {
  std::string plugin;
  std::uint64_t seed = 0;
  int threads = 0;
  double seconds = 0;
  std::vector<CheckResult> checks;
};

/// 0 all passed, 1 a check failed (or nothing ran), 2 a crash or timeout.
[[nodiscard]] int ExitCodeOf(const RunSummary& summary);

[[nodiscard]] std::string TextReport(const RunSummary& summary);
/// Schema "hxa-validate-report", version 1.
[[nodiscard]] std::string JsonReport(const RunSummary& summary);
[[nodiscard]] std::string JunitReport(const RunSummary& summary);

}  // namespace Kavren::Host
