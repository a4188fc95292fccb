// The cost of hostile inputs: each shape at n and at 8n. After the runs, a table gives the
// processor-time ratio of 8n to n (about 8 for n log n; the aim is at most 12) and the bytes held
// at the peak per input byte (the bound is 48, plus 1 MiB in all).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "adversarial_inputs.h"
#include "formats/json.h"
#include "formats/msgpack.h"
#include "formats/yaml.h"
#include "fuzz_check.h"
#include "request_fixture.h"

namespace {

using Kavren::Fuzz::AdversarialShape;
using Kavren::Fuzz::HeldBytesMeter;

// A run that would hold more than this is cut short: the heap refuses.
constexpr std::uint64_t kMeasuringLimit = 1ull << 30;

// One pass of the shape's entry point. A value read from YAML is also written, since
// aliases cost nothing until the value is expanded, unless its text would pass the
// measuring limit (the writer's buffer is not counted, so the meter could not stop it).
// False when the pass was cut short.
bool RunOnce(const AdversarialShape& shape, const std::string& input) {
  if (shape.target == "read_json") {
    benchmark::DoNotOptimize(Kavren::ReadJson(input));
  } else if (shape.target == "read_msgpack") {
    std::size_t consumed = 0;
    benchmark::DoNotOptimize(Kavren::ReadMessagePack(input.data(), input.size(), consumed));
  } else if (shape.target == "read_yaml") {
    Kavren::BindingResult result = Kavren::ReadYaml(input);
    if (!result.ok) return true;
    if (Kavren::Fuzz::JsonTextLowerBound(result.value) > kMeasuringLimit) return false;
    benchmark::DoNotOptimize(Kavren::WriteJson(result.value));
  } else {
    benchmark::DoNotOptimize(Kavren::Fuzz::RequestFixture::Instance().Send(input));
  }
  return true;
}

struct Measured {
  double seconds = 0;  // the fastest repetition's; 0 until one has run
  double heldPerByte = 0;
  bool cutShort = false;
};
std::map<std::string, std::map<std::size_t, Measured>> results;

void RunShape(benchmark::State& state, const AdversarialShape* shape, std::size_t scale) {
  const std::string input = shape->generate(scale);
  if (shape->target == "request") Kavren::Fuzz::RequestFixture::Instance();
  Measured& measured = results[std::string(shape->name)][scale];
  {
    HeldBytesMeter meter(kMeasuringLimit, shape->name, HeldBytesMeter::Above::kRefuse);
    bool complete = true;
    try {
      complete = RunOnce(*shape, input);
    } catch (const std::exception&) {
      // The meter refused an allocation: the shape holds more than the limit.
    }
    meter.Sample();
    measured.heldPerByte = static_cast<double>(meter.Peak()) / static_cast<double>(input.size());
    measured.cutShort = meter.Refused() || !complete;
  }
  for (auto _ : state) {
    try {
      benchmark::DoNotOptimize(RunOnce(*shape, input));
    } catch (const std::exception&) {
    }
  }
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
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\n%-22s %12s %12s %10s %14s %14s\n", "shape", "cpu n", "cpu 8n", "ratio",
              "held/byte n", "held/byte 8n");
  for (const auto& [shape, scales] : results) {
    if (scales.size() != 2) continue;
    const Measured& n = scales.begin()->second;
    const Measured& n8 = scales.rbegin()->second;
    std::printf("%-22s %10.2fms %10.2fms %10.1f %14.1f %13.1f%s\n", shape.c_str(), n.seconds * 1e3,
                n8.seconds * 1e3, n.seconds > 0 ? n8.seconds / n.seconds : 0.0, n.heldPerByte,
                n8.heldPerByte, n8.cutShort ? " (cut short at 1 GiB)" : "");
  }
  return 0;
}
