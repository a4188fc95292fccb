// Running the validator's checks in children, shrinking failures, reporting.
#include "host/validate/run.h"

#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "host/core/plugin_library.h"
#include "host/validate/alloc.h"
#include "host/validate/check_table.h"
#include "host/validate/checks.h"
#include "host/validate/isolation.h"
#include "host/validate/model_host.h"

namespace Kavren::Host {
namespace {

using Clock = std::chrono::steady_clock;

// The budget of one run of a trace while shrinking, before --timeout-factor.
constexpr double kTraceBudgetSeconds = 15;
constexpr int kShrinkRuns = 300;
constexpr int kReproduceAttempts = 3;
constexpr double kShrinkSeconds = 120;

int Usage(const std::string& message) {
  std::fprintf(stderr, "hxa-host validate: %s\n", message.c_str());
  return 3;
}

std::vector<std::string> ReadLines(const std::string& path, bool& ok) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  ok = static_cast<bool>(in);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  }
  return lines;
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

std::string Quote(const std::string& text) {
  if (text.find_first_of(" '\"$\\*") == std::string::npos && !text.empty()) return text;
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// How a run of one trace in a child ended, as the shrinker compares runs.
struct TraceRun {
  CheckStatus status = CheckStatus::kPass;
  std::vector<Finding> findings;
  std::string diagnostics;
};

// What a child that runs one trace answers.
std::string TraceAnswer(const CheckContext& context, const Trace& trace) {
  const std::vector<Finding> findings = RunTraceFindings(context, trace);
  CheckBodyResult result;
  result.status = findings.empty() ? "pass" : "fail";
  result.findings = findings;
  return BodyResultToJson(result);
}

// The validator's command line for a child program of its own, which runs with the
// allocation interposer.
std::vector<std::string> ChildCommand(const ValidateOptions& options,
                                      std::initializer_list<std::string> more) {
  std::vector<std::string> arguments = {ProgramPath(), "validate", options.plugin, "--threads",
                                        std::to_string(options.threads)};
  if (!options.dictionaryPath.empty()) {
    arguments.insert(arguments.end(), {"--dictionary", options.dictionaryPath});
  }
  arguments.insert(arguments.end(), more);
  return arguments;
}

TraceRun RunTraceIsolated(const ValidateOptions& options, const CheckContext& context,
                          const Trace& trace, double budget) {
  IsolatedOutcome outcome;
  if (trace.refusals.Active()) {
    const std::string path =
        options.traceDirectory + "/.child-" + std::to_string(getpid()) + ".json";
    if (SaveTraceFile(trace, path).Succeeded()) {
      outcome = RunIsolatedProgram(ChildCommand(options, {"--child-trace", path}),
                                   InterposerEnvironment(), budget);
    }
    std::remove(path.c_str());
  } else {
    outcome = RunIsolated([&] { return TraceAnswer(context, trace); }, budget);
  }
  TraceRun run;
  run.diagnostics = outcome.diagnostics;
  if (outcome.timedOut) {
    run.status = CheckStatus::kTimeout;
  } else if (!outcome.finished) {
    run.status = CheckStatus::kCrash;
  } else if (const auto result = BodyResultFromJson(outcome.result)) {
    run.status = result->status == "pass" ? CheckStatus::kPass : CheckStatus::kFail;
    run.findings = result->findings;
  }
  return run;
}

// Whether `run` fails the way the original did: the same status, and for a finding
// the same kind of finding.
bool SameFailure(const TraceRun& run, CheckStatus status, const std::string& kind) {
  if (run.status != status) return false;
  if (status != CheckStatus::kFail) return true;
  for (const Finding& finding : run.findings) {
    if (finding.kind == kind) return true;
  }
  return false;
}

std::string CrashMessage(const IsolatedOutcome& outcome) {
  if (outcome.signal != 0) return "crashed with " + SignalName(outcome.signal);
  // A sanitizer ends the process with its own exit code after its report.
  std::string first;
  std::istringstream lines(outcome.diagnostics);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.find("ERROR: ") != std::string::npos || line.find("SUMMARY: ") == 0) {
      first = line;
      break;
    }
  }
  return "ended with exit code " + std::to_string(outcome.exitCode) +
         (first.empty() ? " before it reported" : ": " + first);
}

void Shrink(const ValidateOptions& options, const CheckContext& context, CheckResult& result,
            const Trace& trace) {
  const std::string kind = result.findings.empty() ? "" : result.findings.front().kind;
  const CheckStatus status = result.status;
  const double budget = kTraceBudgetSeconds * options.timeoutFactor;
  const auto until = Clock::now() + std::chrono::milliseconds(static_cast<long long>(
                                        kShrinkSeconds * options.timeoutFactor * 1000));
  int runs = 0;
  const auto fails = [&](const Trace& candidate) {
    if (Clock::now() >= until) return false;
    // A failure that depends on timing may need a second chance.
    for (int attempt = 0; attempt < 2; ++attempt) {
      ++runs;
      if (SameFailure(RunTraceIsolated(options, context, candidate, budget), status, kind)) {
        return true;
      }
      if (status == CheckStatus::kFail && kind != FindingKind::kMemoryCounters) break;
    }
    return false;
  };
  // A failure that a rerun of its trace does not show again cannot be shrunk.
  bool reproduced = false;
  for (int attempt = 0; attempt < kReproduceAttempts && !reproduced; ++attempt) {
    ++runs;
    reproduced = SameFailure(RunTraceIsolated(options, context, trace, budget), status, kind);
  }
  if (!reproduced) {
    result.message += " (not shrunk: " + std::to_string(kReproduceAttempts) +
                      " reruns of its trace did not fail)";
    return;
  }
  const Trace shrunk = ShrinkTrace(trace, fails, kShrinkRuns);
  result.shrunkTraceJson = TraceToJson(shrunk);
  mkdir(options.traceDirectory.c_str(), 0755);
  const std::string path =
      options.traceDirectory + "/" + result.id + "-" + std::to_string(result.seed) + ".min.json";
  if (WriteFile(path, result.shrunkTraceJson)) result.shrunkTracePath = path;
  result.message += " (shrunk from " + std::to_string(trace.ops.size()) + " to " +
                    std::to_string(shrunk.ops.size()) + " operations in " + std::to_string(runs) +
                    " runs)";
}

CheckResult RunOneCheck(const ValidateOptions& options, const CheckSpec& check,
                        const CheckContext& base, double randomShare) {
  CheckResult result;
  result.id = check.id;
  result.description = check.description;
  result.seed = CheckSeed(options.seed, check.id);
  result.command = "hxa-host validate " + Quote(options.plugin) + " --only " + check.id +
                   " --seed " + std::to_string(options.seed) + " --threads " +
                   std::to_string(options.threads);
  if (check.random) {
    result.command +=
        " --seconds " + std::to_string(static_cast<long long>(std::max(1.0, options.seconds)));
  }
  CheckContext context = base;
  context.seed = result.seed;
  mkdir(options.traceDirectory.c_str(), 0755);
  context.pendingTracePath =
      options.traceDirectory + "/.pending-" + std::to_string(getpid()) + ".json";
  std::remove(context.pendingTracePath.c_str());
  const double budget = check.budgetSeconds * options.timeoutFactor;
  std::optional<Trace> trace;
  // A random check runs round after round, each in a child of its own, until its share
  // of the time is spent or a round fails; a directed check runs once.
  const auto until =
      Clock::now() + std::chrono::milliseconds(static_cast<long long>(randomShare * 1000));
  for (std::uint64_t round = 0;; ++round) {
    context.round = round;
    const IsolatedOutcome outcome =
        check.interposed
            ? RunIsolatedProgram(
                  ChildCommand(options, {"--child-check", check.id, "--child-seed",
                                         std::to_string(context.seed), "--child-round",
                                         std::to_string(context.round), "--child-pending",
                                         context.pendingTracePath}),
                  InterposerEnvironment(), budget)
            : RunIsolated([&] { return BodyResultToJson(RunCheckBody(check, context)); }, budget);
    result.seconds += outcome.seconds;
    if (outcome.timedOut) {
      result.status = CheckStatus::kTimeout;
      result.message = "no answer within " + std::to_string(static_cast<int>(budget)) + " s";
      result.diagnostics = outcome.diagnostics;
    } else if (!outcome.finished) {
      result.status = CheckStatus::kCrash;
      result.message = CrashMessage(outcome);
      result.diagnostics = outcome.diagnostics;
    } else if (const auto body = BodyResultFromJson(outcome.result)) {
      result.status = body->status == "pass"   ? CheckStatus::kPass
                      : body->status == "skip" ? CheckStatus::kSkip
                                               : CheckStatus::kFail;
      result.message = body->message;
      result.findings = body->findings;
      result.rounds += body->rounds;
      result.ops += body->ops;
      trace = body->trace;
    } else {
      result.status = CheckStatus::kCrash;
      result.message = "the check's child answered nothing readable";
    }
    if (result.status != CheckStatus::kPass || !check.random || Clock::now() >= until) break;
  }
  if (check.random && result.status != CheckStatus::kPass) {
    result.message = "round " + std::to_string(context.round) + ": " + result.message;
  }
  if (result.status == CheckStatus::kCrash || result.status == CheckStatus::kTimeout) {
    // The child died: the trace it ran last is the one it left behind.
    MaybeType<Failure, Trace> pending = LoadTraceFile(context.pendingTracePath);
    if (pending.Succeeded()) trace = pending.Value();
  }
  std::remove(context.pendingTracePath.c_str());
  if (trace && result.status != CheckStatus::kPass && result.status != CheckStatus::kSkip) {
    result.traceJson = TraceToJson(*trace);
    const std::string path =
        options.traceDirectory + "/" + result.id + "-" + std::to_string(result.seed) + ".json";
    if (WriteFile(path, result.traceJson)) result.tracePath = path;
    if (options.shrink && trace->ops.size() > 1) Shrink(options, context, result, *trace);
  }
  return result;
}

int Replay(const ValidateOptions& options, const PluginLibrary& library,
           const std::vector<std::string>& dictionary) {
  MaybeType<Failure, Trace> trace = LoadTraceFile(options.replayPath);
  if (trace.Failed()) return Usage(trace.GetFailure().message);
  const RefusalPlan& refusals = trace.Value().refusals;
  if (refusals.Active() && !InterposerLoaded()) {
    // The trace refuses allocations: this process starts again with the interposer, once.
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::string(preload).find(InterposerPath()) == std::string::npos) {
      ExecuteProgram(ChildCommand(options, {"--replay", options.replayPath}),
                     InterposerEnvironment());
    }
    return Usage("cannot run with the allocation interposer " + InterposerPath());
  }
  std::printf("replaying %s (%zu operations on %d threads) in this process\n",
              options.replayPath.c_str(), trace.Value().ops.size(), trace.Value().threads);
  std::fflush(stdout);
  TraceOutcome outcome;
  if (refusals.Active()) {
    RefusedRun run = RunRefusedTrace(library.Export(), trace.Value(), dictionary);
    std::printf("%s: %llu of %llu allocations of the plugin refused\n",
                RunPhaseName(refusals.phase), static_cast<unsigned long long>(run.refused),
                static_cast<unsigned long long>(run.counted));
    if (!run.outcome.skipped.empty()) return Usage(run.outcome.skipped);
    outcome = std::move(run.outcome);
  } else {
    outcome = RunTrace(library.Export(), trace.Value(), dictionary);
  }
  for (const Finding& finding : outcome.findings) {
    std::printf("finding %s: %s\n", finding.kind.c_str(), finding.message.c_str());
  }
  if (outcome.findings.empty()) {
    std::printf("SUCCESS: the trace ran without a finding\n");
    return 0;
  }
  std::printf("FAILURE: %zu finding(s)\n", outcome.findings.size());
  return 1;
}

// A child program the validator runs: one check's body, or one trace, answered on the
// answer descriptor.
[[noreturn]] void AnswerAsChild(const ValidateOptions& options, const PluginLibrary& library,
                                const std::vector<std::string>& dictionary) {
  CheckContext context;
  context.load = library.Export();
  context.threads = options.threads;
  context.dictionary = dictionary;
  context.seed = options.childSeed;
  context.round = options.childRound;
  context.pendingTracePath = options.childPending;
  AnswerIsolated([&] {
    if (!options.childTrace.empty()) {
      MaybeType<Failure, Trace> trace = LoadTraceFile(options.childTrace);
      if (trace.Failed()) throw std::runtime_error(trace.GetFailure().message);
      return TraceAnswer(context, trace.Value());
    }
    const CheckSpec* check = FindCheck(options.childCheck);
    if (check == nullptr) throw std::runtime_error("no check " + options.childCheck);
    return BodyResultToJson(RunCheckBody(*check, context));
  });
}

}  // namespace

int RunValidate(const ValidateOptions& options) {
  const std::vector<const CheckSpec*> selected = SelectChecks(options.only, options.skip);
  if (options.list) {
    for (const CheckSpec* check : selected) {
      std::printf("%-28s %s\n", check->id, check->description);
    }
    return selected.empty() ? Usage("no check matches") : 0;
  }
  if (options.plugin.empty()) return Usage("no plugin given (see --help)");
  if (options.threads < 1 || options.threads > 64) return Usage("--threads must be 1 to 64");
  if (options.timeoutFactor <= 0) return Usage("--timeout-factor must be positive");
  if (options.seconds < 0) return Usage("--seconds must not be negative");
  std::vector<std::string> dictionary;
  if (!options.dictionaryPath.empty()) {
    bool ok = false;
    dictionary = ReadLines(options.dictionaryPath, ok);
    if (!ok) return Usage("cannot read " + options.dictionaryPath);
  }
  PluginLibrary library;
  const MaybeType<Failure> opened = library.Open(options.plugin);
  if (opened.Failed()) return Usage("cannot load the plugin: " + opened.GetFailure().message);
  if (!options.childCheck.empty() || !options.childTrace.empty()) {
    AnswerAsChild(options, library, dictionary);
  }
  if (!options.replayPath.empty()) return Replay(options, library, dictionary);
  if (selected.empty()) return Usage("no check matches --only/--skip");

  ValidateOptions run = options;
  if (!run.seedGiven)
    run.seed = std::random_device{}() | (std::uint64_t{std::random_device{}()} << 32);
  std::size_t randomChecks = 0;
  for (const CheckSpec* check : selected) randomChecks += check->random ? 1 : 0;
  const double share = randomChecks > 0 ? run.seconds / static_cast<double>(randomChecks) : 0;
  std::printf(
      "hxa-host validate %s: %zu checks, seed %llu, %d threads, %.0f s of random "
      "orderings\n",
      run.plugin.c_str(), selected.size(), static_cast<unsigned long long>(run.seed), run.threads,
      run.seconds);
  std::fflush(stdout);

  CheckContext context;
  context.load = library.Export();
  context.threads = run.threads;
  context.dictionary = dictionary;
  RunSummary summary;
  summary.plugin = run.plugin;
  summary.seed = run.seed;
  summary.threads = run.threads;
  const auto started = Clock::now();
  for (const CheckSpec* check : selected) {
    summary.checks.push_back(RunOneCheck(run, *check, context, share));
    const CheckResult& result = summary.checks.back();
    std::printf("  %-7s %s (%.2f s)\n", CheckStatusName(result.status), result.id.c_str(),
                result.seconds);
    std::fflush(stdout);
  }
  summary.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  std::printf("%s", TextReport(summary).c_str());
  std::fflush(stdout);
  if (!run.jsonPath.empty() && !WriteFile(run.jsonPath, JsonReport(summary))) {
    return Usage("cannot write " + run.jsonPath);
  }
  if (!run.junitPath.empty() && !WriteFile(run.junitPath, JunitReport(summary))) {
    return Usage("cannot write " + run.junitPath);
  }
  return ExitCodeOf(summary);
}

int RunValidateCommand(int argc, char** argv) {
  CLI::App app{
      "Validate a plugin of this ABI: checks in families, each in a child process, seeded "
      "random host orderings on several threads, an oracle, shrunk failing traces",
      "validate"};
  ValidateOptions options;
  app.add_option("plugin", options.plugin, "path of the plugin library");
  app.add_flag("--list", options.list, "list the checks (--only/--skip apply) and exit");
  app.add_option("--only", options.only, "run only the checks matching these patterns (a,b*)");
  app.add_option("--skip", options.skip, "skip the checks matching these patterns");
  auto* seed = app.add_option("--seed", options.seed, "master seed (printed when not given)");
  app.add_option("--threads", options.threads, "host threads of the random runs")
      ->capture_default_str();
  app.add_option("--seconds", options.seconds,
                 "seconds of random exploration, shared by the threads.* checks")
      ->capture_default_str();
  app.add_option("--timeout-factor", options.timeoutFactor, "multiplies every check's time budget")
      ->capture_default_str();
  app.add_option("--json", options.jsonPath, "write the JSON report here");
  app.add_option("--junit", options.junitPath, "write a JUnit XML report here");
  app.add_option("--replay", options.replayPath,
                 "run one saved trace in this process (for a debugger) and exit");
  app.add_option("--trace-dir", options.traceDirectory, "where failing and shrunk traces are saved")
      ->capture_default_str();
  app.add_option("--dictionary", options.dictionaryPath,
                 "texts (one per line) the value generator draws from");
  bool noShrink = false;
  app.add_flag("--no-shrink", noShrink, "do not shrink failing traces");
  // A child program's own options, in no help group.
  app.add_option("--child-check", options.childCheck)->group("");
  app.add_option("--child-seed", options.childSeed)->group("");
  app.add_option("--child-round", options.childRound)->group("");
  app.add_option("--child-pending", options.childPending)->group("");
  app.add_option("--child-trace", options.childTrace)->group("");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::printf("%s", app.help().c_str());
    return 0;
  } catch (const CLI::ParseError& error) {
    return Usage(error.what());
  }
  options.seedGiven = seed->count() > 0;
  options.shrink = !noShrink;
  return RunValidate(options);
}

}  // namespace Kavren::Host
