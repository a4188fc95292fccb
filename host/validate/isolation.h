// Running a piece of the validator in a forked child with a time budget: a crash or a
// hang of the plugin ends the child, never the validator.
#pragma once

#include <functional>
#include <string>
#include <vector>

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

/// The running program's file.
[[nodiscard]] std::string ProgramPath();

/// Replaces this process with `arguments` (the program's path first), `environment`'s
/// NAME=value entries added to its own; returns only when that fails.
void ExecuteProgram(const std::vector<std::string>& arguments,
                    const std::vector<std::string>& environment);

/// The descriptor a program run by RunIsolatedProgram writes its answer to.
inline constexpr int kAnswerDescriptor = 3;

/// As RunIsolated, but the child executes `arguments` (the program's path first) with
/// `environment`'s NAME=value entries added to the validator's own; its answer is what
/// it writes to kAnswerDescriptor before it exits with 0. Call from a single-threaded
/// process.
[[nodiscard]] IsolatedOutcome RunIsolatedProgram(const std::vector<std::string>& arguments,
                                                 const std::vector<std::string>& environment,
                                                 double budgetSeconds);

/// What a child does: installs a backtrace on a crash and every thread's stack on the
/// validator's request, runs `body`, writes its answer to `descriptor` and ends without
/// the process's exit handlers. A program run by RunIsolatedProgram calls it itself.
[[noreturn]] void AnswerIsolated(const std::function<std::string()>& body,
                                 int descriptor = kAnswerDescriptor);

/// The name of a signal, e.g. "SIGSEGV".
[[nodiscard]] std::string SignalName(int signal);

}  // namespace Kavren::Host
