// The allocation interposer seen from the validator, and runs under refusal plans.
#include "host/validate/alloc.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include "host/validate/alloc_interposer.h"
#include "host/validate/isolation.h"

namespace Kavren::Host {
namespace {

using StatsFunction = decltype(Abi::PluginFunctionTable::GetMemoryStats);

const HxaAllocControl* Control() {
  static const HxaAllocControl* const control = []() -> const HxaAllocControl* {
    void* symbol = dlsym(RTLD_DEFAULT, HXA_ALLOC_CONTROL_SYMBOL);
    if (symbol == nullptr) return nullptr;
    return reinterpret_cast<const HxaAllocControl* (*)()>(symbol)();
  }();
  return control;
}

// Points the interposer at the executable segments of the library that holds `load`.
bool TargetPlugin(const HxaAllocControl& control, Abi::PluginLoadFunction load) {
  static Abi::PluginLoadFunction targeted = nullptr;
  if (targeted == load) return true;
  struct Search {
    std::uintptr_t address;
    std::vector<std::uintptr_t> ranges;
  } search{reinterpret_cast<std::uintptr_t>(load), {}};
  dl_iterate_phdr(
      [](dl_phdr_info* object, std::size_t, void* data) {
        auto& search = *static_cast<Search*>(data);
        const auto segment = [&](int index, std::uintptr_t& begin, std::uintptr_t& end) {
          const ElfW(Phdr)& header = object->dlpi_phdr[index];
          begin = object->dlpi_addr + header.p_vaddr;
          end = begin + header.p_memsz;
          return header.p_type == PT_LOAD;
        };
        bool holds = false;
        std::uintptr_t begin = 0;
        std::uintptr_t end = 0;
        for (int index = 0; index < object->dlpi_phnum; ++index) {
          if (segment(index, begin, end) && search.address >= begin && search.address < end) {
            holds = true;
          }
        }
        if (!holds) return 0;
        for (int index = 0; index < object->dlpi_phnum; ++index) {
          if (segment(index, begin, end) && (object->dlpi_phdr[index].p_flags & PF_X) != 0) {
            search.ranges.push_back(begin);
            search.ranges.push_back(end);
          }
        }
        return 1;
      },
      &search);
  if (search.ranges.empty()) return false;
  control.SetRanges(search.ranges.data(), static_cast<int>(search.ranges.size() / 2));
  targeted = load;
  return true;
}

// The plugin's GetMemoryStats from the last run that loaded it: a run whose own export
// is refused still reads the counters.
StatsFunction knownStats = nullptr;

struct Held {
  bool known = false;
  std::uint64_t bytes = 0;
  std::uint64_t blocks = 0;
};

Held ReadHeld() {
  if (knownStats == nullptr) return {};
  Abi::PluginMemoryStats stats{};
  knownStats(nullptr, &stats);
  return Held{true, stats.allocatedBytes - stats.freedBytes, stats.allocations - stats.frees};
}

// What the runs without refusals of the same operations gave.
struct Reference {
  std::uint64_t counted = 0;
  std::uint64_t linesAfterStart = 0;
};

std::string Count(std::uint64_t number, const char* what) {
  return std::to_string(number) + " " + what + (number == 1 ? "" : "s");
}

// Arms the plan where its phase first begins, settles where it ends, and checks the
// contract when the run is over.
class RefusalObserver final : public RunObserver {
 public:
  RefusalObserver(const HxaAllocControl& control, const RefusalPlan& plan,
                  const Reference* reference)
      : control_(control), plan_(plan), reference_(reference) {}

  void Begin(ModelHost&, Oracle&, RunPhase phase) override {
    if (phase == RunPhase::kRun) before_ = ReadHeld();
    if (phase != plan_.phase || armed_ || settled_) return;
    HxaAllocPlan plan{};
    for (std::uint64_t number : plan_.numbers) {
      if (plan.numberCount < HXA_ALLOC_MAX_NUMBERS) plan.numbers[plan.numberCount++] = number;
    }
    plan.ratePerMillion = plan_.ratePerMillion;
    plan.seed = plan_.seed;
    control_.Arm(&plan);
    armed_ = true;
  }

  void End(ModelHost& host, Oracle& oracle, RunPhase phase, bool succeeded) override {
    if (phase == RunPhase::kExport && !exported_) {
      exported_ = true;
      run_.loaded = succeeded;
    }
    if (phase == RunPhase::kStart && !startEnded_) {
      startEnded_ = true;
      run_.started = succeeded;
      linesAtStart_ = host.Counts().logLines;
    }
    if (armed_ && (phase == plan_.phase || phase == RunPhase::kRun)) Settle();
    if (phase != RunPhase::kRun) return;
    if (host.StatsFunction() != nullptr) knownStats = host.StatsFunction();
    CheckContract(host, oracle);
  }

  [[nodiscard]] bool Refused() const override {
    if (!armed_ && !settled_) return false;
    HxaAllocStatus status{};
    control_.Status(&status);
    return status.refused > 0;
  }

  [[nodiscard]] const RefusedRun& Run() const { return run_; }
  [[nodiscard]] std::uint64_t LinesAtStart() const { return linesAtStart_; }

 private:
  void Settle() {
    control_.Disarm();
    armed_ = false;
    settled_ = true;
    HxaAllocStatus status{};
    control_.Status(&status);
    run_.counted = status.counted;
    run_.refused = status.refused;
    for (std::uint64_t index = 0; index < status.refused && index < HXA_ALLOC_MAX_REFUSED;
         ++index) {
      run_.refusedNumbers.push_back(status.firstRefused[index]);
    }
  }

  void CheckContract(ModelHost& host, Oracle& oracle) {
    const std::string refusals = Count(run_.refused, "allocation") + " refused";
    const Held after = ReadHeld();
    if (before_.known && after.known &&
        (after.bytes > before_.bytes || after.blocks > before_.blocks + run_.refused)) {
      // The refused allocations may each count as a block of 0 bytes, never freed.
      oracle.Report(FindingKind::kMemoryBlocks,
                    "after Stop the plugin holds " +
                        Count(after.bytes - std::min(after.bytes, before_.bytes), "byte") +
                        " and " +
                        Count(after.blocks - std::min(after.blocks, before_.blocks), "block") +
                        " more than before its load (" + refusals +
                        ", each of which may count as a block of 0 bytes)");
    }
    // Only refusals before the operations leave them to run unrefused, as the reference's.
    const bool beforeTraffic = plan_.phase == RunPhase::kExport || plan_.phase == RunPhase::kStart;
    if (beforeTraffic && run_.started && run_.refused > 0 && reference_ != nullptr &&
        reference_->linesAfterStart > 0 && host.Counts().logLines == linesAtStart_) {
      oracle.Report(FindingKind::kLogTarget,
                    "Start answered true, yet no line the plugin logged after it reached the "
                    "host's Log (" +
                        refusals + "; without refusals " +
                        Count(reference_->linesAfterStart, "line") + " reach it)");
    }
  }

  const HxaAllocControl& control_;
  const RefusalPlan& plan_;
  const Reference* reference_;
  bool armed_ = false;
  bool settled_ = false;
  bool exported_ = false;
  bool startEnded_ = false;
  std::uint64_t linesAtStart_ = 0;
  Held before_;
  RefusedRun run_;
};

}  // namespace

std::string InterposerPath() {
  const std::string program = ProgramPath();
  const std::size_t slash = program.rfind('/');
  return (slash == std::string::npos ? std::string(".") : program.substr(0, slash)) +
         "/hxa-alloc-interposer.so";
}

std::vector<std::string> InterposerEnvironment() {
  const char* preload = std::getenv("LD_PRELOAD");
  const char* asan = std::getenv("ASAN_OPTIONS");
  return {"LD_PRELOAD=" + InterposerPath() +
              (preload != nullptr && *preload != '\0' ? std::string(":") + preload : ""),
          std::string("ASAN_OPTIONS=") +
              (asan != nullptr && *asan != '\0' ? std::string(asan) + ":" : "") +
              "verify_asan_link_order=0"};
}

bool InterposerLoaded() { return Control() != nullptr; }

RefusedRun RunRefusedTrace(Abi::PluginLoadFunction load, const Trace& trace,
                           const std::vector<std::string>& dictionary) {
  const HxaAllocControl* control = Control();
  if (control == nullptr || !TargetPlugin(*control, load)) {
    RefusedRun run;
    run.outcome.skipped = control == nullptr ? "the allocation interposer is not loaded"
                                             : "the plugin's code is not mapped in this process";
    return run;
  }
  Trace counting = trace;
  counting.refusals = RefusalPlan{};
  counting.refusals.phase = trace.refusals.phase;
  // Keyed by the operations and the phase; never freed, like the plugin it describes.
  static auto* references = new std::map<std::string, Reference>();
  const std::string key = TraceToJson(counting);
  auto found = references->find(key);
  if (found == references->end()) {
    // What a first run makes for the rest of the process (statics, caches) is made before
    // anything is measured; the second run is the reference. No refused run warms up: a
    // block a failure makes once and keeps (a reference count left taken) cannot be told
    // from a cache by the counters, and the contract is that none is kept.
    Reference reference;
    for (int warm = 0; warm < 2; ++warm) {
      RefusalObserver observer(*control, counting.refusals, nullptr);
      const TraceOutcome outcome = RunObservedTrace(load, counting, dictionary, &observer);
      reference = Reference{
          observer.Run().counted,
          outcome.counts.logLines - std::min(outcome.counts.logLines, observer.LinesAtStart())};
    }
    found = references->emplace(key, reference).first;
  }
  RefusalObserver observer(*control, trace.refusals, &found->second);
  TraceOutcome outcome = RunObservedTrace(load, trace, dictionary, &observer);
  RefusedRun run = observer.Run();
  run.outcome = std::move(outcome);
  return run;
}

TraceOutcome RunTrace(Abi::PluginLoadFunction load, const Trace& trace,
                      const std::vector<std::string>& dictionary) {
  if (trace.refusals.Active()) return RunRefusedTrace(load, trace, dictionary).outcome;
  return RunObservedTrace(load, trace, dictionary, nullptr);
}

}  // namespace Kavren::Host
