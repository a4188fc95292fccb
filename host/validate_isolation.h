// Running a piece of the validator in a forked child with a time budget: a crash or a
// hang of the plugin ends the child, never the validator.
#pragma once

#include <functional>
#include <string>

namespace Kavren::Host {

/// How a child ended.
struct IsolatedOutcome {
  /// What the body answered; empty when it did not finish.
  std::string result;
  bool finished = false;
  /// Ended by this signal (0: it exited).
  int signal = 0;
  int exitCode = 0;
  bool timedOut = false;
  /// The child's standard error: a crash's backtrace, a sanitizer's report, or every
  /// thread's stack after a timeout; symbolized where addr2line can.
  std::string diagnostics;
  double seconds = 0;
};

/// Forks; the child runs `body` and hands its answer back, then ends without running
/// the process's exit handlers. After `budgetSeconds` the child is asked for every
/// thread's stack and then killed. Call from a single-threaded process.
[[nodiscard]] IsolatedOutcome RunIsolated(const std::function<std::string()>& body,
                                          double budgetSeconds);

/// The name of a signal, e.g. "SIGSEGV".
[[nodiscard]] std::string SignalName(int signal);

}  // namespace Kavren::Host
