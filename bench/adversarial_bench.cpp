// The cost of hostile inputs: each shape at n and at 8n. After the runs, a table gives the
// processor-time ratio of 8n to n (about 8 for n log n; the aim is at most 12) and the bytes held
// at the peak per input byte (the bound is 48, plus 1 MiB in all). A second table holds each
// shape at 32 times the input it was reported with (tens of megabytes): it must end in a
// success or a clear refusal, leak nothing and stay within the bound; the program exits 1
// when one does not.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "adversarial_inputs.h"
#include "formats/json.h"
#include "formats/msgpack.h"
#include "formats/yaml.h"
#include "fuzz_check.h"
#include "request_fixture.h"
#include "util/accounting.h"

namespace {

using Kavren::Fuzz::AdversarialShape;
using Kavren::Fuzz::HeldBytesMeter;

// A run that would hold more than this (or its bound, when that is more) is cut short: the
// heap refuses.
constexpr std::uint64_t kMeasuringLimit = 1ull << 30;
// The largest inputs: this many times the input each shape was reported with.
constexpr std::size_t kLargeFactor = 32;

// One pass of the shape's entry point. A value read from YAML is also written, since
// aliases cost nothing until the value is expanded, unless its text would pass the
// measuring limit (the writer's buffer is not counted, so the meter could not stop it).
// False when the pass was cut short. `outcome` receives "ok", or the failure text the
// entry point answered with.
bool RunOnce(const AdversarialShape& shape, const std::string& input, std::string& outcome) {
  outcome = "ok";
  const auto judge = [&outcome](const Kavren::BindingResult& result) {
    if (!result.ok) outcome = result.ErrorText();
  };
  if (shape.target == "read_json") {
    judge(Kavren::ReadJson(input));
  } else if (shape.target == "read_msgpack") {
    std::size_t consumed = 0;
    judge(Kavren::ReadMessagePack(input.data(), input.size(), consumed));
  } else if (shape.target == "read_yaml") {
    Kavren::BindingResult result = Kavren::ReadYaml(input);
    judge(result);
    if (!result.ok) return true;
    if (Kavren::Fuzz::JsonTextLowerBound(result.value) > kMeasuringLimit) return false;
    benchmark::DoNotOptimize(Kavren::WriteJson(result.value));
  } else {
    const Kavren::Fuzz::FuzzReply reply = Kavren::Fuzz::RequestFixture::Instance().Send(input);
    if (reply.failed) outcome = std::to_string(reply.status) + " " + reply.errorText;
  }
  return true;
}

struct Measured {
  double seconds = 0;  // the fastest repetition's; 0 until one has run
  double heldPerByte = 0;
  bool cutShort = false;
  std::size_t inputBytes = 0;
  bool withinBound = false;  // held at most 48 bytes per input byte plus 1 MiB
  std::int64_t leaked = 0;   // bytes the accounting held after the timed passes, not before
  std::string outcome;       // "ok", the failure text, or what was thrown
  bool large = false;        // 32 times the reported input
};
std::map<std::string, std::map<std::size_t, Measured>> results;

void RunShape(benchmark::State& state, const AdversarialShape* shape, std::size_t scale) {
  const std::string input = shape->generate(scale);
  if (shape->target == "request") Kavren::Fuzz::RequestFixture::Instance();
  Measured& measured = results[std::string(shape->name)][scale];
  measured.inputBytes = input.size();
  measured.large = scale == shape->referenceScale * kLargeFactor;
  const std::uint64_t bound = Kavren::Fuzz::HeldBytesBound(input.size());
  {
    // A shape within its bound is never cut short, however large the bound.
    HeldBytesMeter meter(std::max(kMeasuringLimit, bound), shape->name,
                         HeldBytesMeter::Above::kRefuse);
    bool complete = true;
    try {
      complete = RunOnce(*shape, input, measured.outcome);
    } catch (const std::exception& error) {
      // The meter refused an allocation (the shape holds more than the limit), or the
      // entry point let something through: either way no clear refusal.
      measured.outcome = std::string("thrown: ") + error.what();
    }
    meter.Sample();
    measured.heldPerByte = static_cast<double>(meter.Peak()) / static_cast<double>(input.size());
    measured.withinBound = meter.Peak() <= bound;
    measured.cutShort = meter.Refused() || !complete;
  }
  // A leak shows in every pass; the first pass of a shape may also make what lives on
  // (a first failure's statics), so the timed passes are the ones held to it.
  const std::uint64_t timedBefore = Kavren::Accounting::BytesInUse();
  {
    std::string outcome;
    for (auto _ : state) {
      try {
        benchmark::DoNotOptimize(RunOnce(*shape, input, outcome));
      } catch (const std::exception&) {
      }
    }
  }
  measured.leaked = static_cast<std::int64_t>(Kavren::Accounting::BytesInUse() - timedBefore);
  state.counters["input_bytes"] = static_cast<double>(input.size());
  state.counters["held_per_byte"] = measured.heldPerByte;
}

// Records each shape's fastest repetition, by time per iteration, for the closing table: on a
// shared machine the others only ever add time, and the single-iteration runs at 8n would
// otherwise move the ratio by a fifth from one run of the table to the next.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      const std::string name = run.benchmark_name();
      const std::size_t slash = name.find('/');
      const std::string shape = name.substr(0, slash);
      const std::size_t scale = std::stoul(name.substr(slash + 1));
      // Processor time: on a shared machine the wall clock mostly measures the others.
      const double seconds =
          run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      double& fastest = results[shape][scale].seconds;
      if (fastest == 0 || seconds < fastest) fastest = seconds;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  for (const AdversarialShape& shape : Kavren::Fuzz::AdversarialShapes()) {
    // n is an eighth of the input the shape was reported with; 8n is that input.
    const std::size_t small = std::max<std::size_t>(1, shape.referenceScale / 8);
    for (std::size_t scale : {small, small * 8}) {
      benchmark::RegisterBenchmark(std::string(shape.name).c_str(), RunShape, &shape, scale)
          ->Arg(static_cast<std::int64_t>(scale))
          ->Unit(benchmark::kMillisecond)
          ->Iterations(scale == small ? 8 : 1)
          ->Repetitions(5);
    }
    // 32 times the reported input: tens of megabytes, timed once.
    benchmark::RegisterBenchmark(std::string(shape.name).c_str(), RunShape, &shape,
                                 shape.referenceScale * kLargeFactor)
        ->Arg(static_cast<std::int64_t>(shape.referenceScale * kLargeFactor))
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->Repetitions(1);
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\n%-22s %12s %12s %10s %14s %14s\n", "shape", "cpu n", "cpu 8n", "ratio",
              "held/byte n", "held/byte 8n");
  for (const auto& [shape, scales] : results) {
    if (scales.size() < 2 || std::next(scales.begin())->second.large) continue;
    const Measured& n = scales.begin()->second;
    const Measured& n8 = std::next(scales.begin())->second;
    std::printf("%-22s %10.2fms %10.2fms %10.1f %14.1f %13.1f%s\n", shape.c_str(), n.seconds * 1e3,
                n8.seconds * 1e3, n.seconds > 0 ? n8.seconds / n.seconds : 0.0, n.heldPerByte,
                n8.heldPerByte, n8.cutShort ? " (cut short at 1 GiB)" : "");
  }
  // At 32 times the reported input each shape must end in a success or a clear refusal
  // (the entry point's failure text), with no leak and within the bound.
  std::printf("\n%-22s %10s %10s %10s %8s %8s  %s\n", "shape at 32x", "input MB", "cpu",
              "held/byte", "bound", "leaked", "outcome");
  int faults = 0;
  for (const auto& [shape, scales] : results) {
    const Measured& large = scales.rbegin()->second;
    if (!large.large) continue;
    const bool clear = !large.outcome.starts_with("thrown") && !large.cutShort;
    faults += (clear && large.withinBound && large.leaked == 0) ? 0 : 1;
    std::printf("%-22s %10.1f %8.0fms %10.1f %8s %8lld  %.90s\n", shape.c_str(),
                static_cast<double>(large.inputBytes) / 1e6, large.seconds * 1e3, large.heldPerByte,
                large.withinBound ? "within" : "ABOVE", static_cast<long long>(large.leaked),
                large.outcome.c_str());
  }
  if (faults != 0) {
    std::printf("%d shape(s) at 32x without a clear end, above the bound or leaking\n", faults);
    return 1;
  }
  return 0;
}
