// Test helper: the failing heap and the allocation-failure sweep.
#include "failing_heap_support.h"

#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's count of the bytes its heap holds (GCC ships no header for it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace Kavren::Testing {
namespace {

struct RefusalState {
  std::thread::id owner;
  std::uint64_t refuse = 0;
  std::uint64_t numbered = 0;
  bool refused = false;
};

RefusalState state;
thread_local int windows = 0;
thread_local int hostScopes = 0;

// True when this allocation is refused; numbers it when it counts.
bool RefuseThis() {
  if (windows == 0 || hostScopes != 0 || std::this_thread::get_id() != state.owner) return false;
  ++state.numbered;
  if (state.numbered != state.refuse) return false;
  state.refused = true;
  return true;
}

const Accounting::Hooks& Counting() { return Accounting::CountingHooks(); }

// Blocks the accounting holds, counted here from what each operation really did: the
// accounting's own counters count a free and an allocation for every resize, also of
// nothing or to nothing, so their difference is no count of blocks. A leak of a small
// block, or of one freed and another kept, shows here when the bytes balance.
std::atomic<std::int64_t> liveBlocks{0};

void* Allocate(void*, std::size_t size) {
  if (RefuseThis()) return nullptr;
  void* block = Counting().allocate(nullptr, size);
  if (block != nullptr) ++liveBlocks;
  return block;
}

void Free(void*, void* block) {
  if (block != nullptr) --liveBlocks;
  Counting().free(nullptr, block);
}

void* Reallocate(void*, void* block, std::size_t size) {
  if (size != 0 && RefuseThis()) return nullptr;
  void* resized = Counting().reallocate(nullptr, block, size);
  liveBlocks += (resized != nullptr ? 1 : 0) -
                (block != nullptr && (resized != nullptr || size == 0) ? 1 : 0);
  return resized;
}

char* DuplicateText(void*, const char* text) {
  if (text != nullptr && RefuseThis()) return nullptr;
  char* copy = Counting().duplicateText(nullptr, text);
  if (copy != nullptr) ++liveBlocks;
  return copy;
}

std::size_t BlockSize(void*, const void* block) { return Counting().blockSize(nullptr, block); }

const Accounting::Hooks kFailingHooks{Allocate,      Free,      Reallocate,
                                      DuplicateText, BlockSize, nullptr};

// The k of the runs of a sweep over `allocations` allocations.
std::vector<std::uint64_t> SampledRefusals(std::uint64_t allocations, std::uint64_t samples) {
  const char* full = std::getenv("HXA_SWEEP_FULL");
  const bool every =
      (full != nullptr && full[0] != '\0' && full[0] != '0') || allocations <= samples;
  const std::uint64_t stride = every ? 1 : (allocations + samples - 1) / samples;
  std::vector<std::uint64_t> ks;
  for (std::uint64_t k = 1; k <= allocations; k += stride) ks.push_back(k);
  if (!ks.empty() && ks.back() != allocations) ks.push_back(allocations);
  return ks;
}

}  // namespace

SweepOutcome& SweepOutcome::operator=(std::string_view text) {
  size_ = 0;
  return *this += text;
}

SweepOutcome& SweepOutcome::operator+=(std::string_view text) {
  const std::size_t room = sizeof text_ - 1 - size_;
  const std::size_t count = text.size() < room ? text.size() : room;
  std::memcpy(text_ + size_, text.data(), count);
  size_ += count;
  text_[size_] = '\0';
  return *this;
}

void SweepOutcome::Prefix(std::string_view text) {
  char old[sizeof text_];
  std::memcpy(old, text_, size_);
  const std::string_view rest(old, size_);
  *this = text;
  *this += rest;
}

FailingHeap::FailingHeap() : previous_(Accounting::InstallHooks(&kFailingHooks)) {
  state = RefusalState{std::this_thread::get_id(), 0, 0, false};
}

FailingHeap::~FailingHeap() { Accounting::InstallHooks(previous_); }

void FailingHeap::Prepare(std::uint64_t k) {
  state.refuse = k;
  state.numbered = 0;
  state.refused = false;
}

std::uint64_t FailingHeap::Numbered() const { return state.numbered; }

bool FailingHeap::Refused() const { return state.refused; }

RefusalWindow::RefusalWindow() noexcept { ++windows; }
RefusalWindow::~RefusalWindow() { --windows; }

void OpenRefusalWindow() noexcept { ++windows; }
void CloseRefusalWindow() noexcept { --windows; }

HostScope::HostScope() noexcept { ++hostScopes; }
HostScope::~HostScope() { --hostScopes; }

bool MallocBytesInUse(std::size_t& bytes) {
#if defined(__SANITIZE_ADDRESS__)
  bytes = __sanitizer_get_current_allocated_bytes();
  return true;
#else
  // Freed blocks in the thread cache count as in use: only without it is the count true.
  const char* tunables = std::getenv("GLIBC_TUNABLES");
  if (tunables == nullptr || std::strstr(tunables, "glibc.malloc.tcache_count=0") == nullptr) {
    return false;
  }
  bytes = mallinfo2().uordblks;
  return true;
#endif
}

SweepReport Sweep(const std::string& name, const SweepRun& run, const std::function<void()>& reset,
                  std::uint64_t samples) {
  SweepReport report;
  FailingHeap heap;
  SweepOutcome outcome;
  // One run with allocation k refused (0: none). Leaks and heap drift become faults.
  const auto once = [&](std::uint64_t k) {
    if (reset) reset();
    outcome = "";
    std::size_t mallocBefore = 0;
    const bool haveMalloc = MallocBytesInUse(mallocBefore);
    const std::uint64_t before = Accounting::BytesInUse();
    const std::int64_t blocksBefore = liveBlocks.load();
    heap.Prepare(k);
    run(outcome);
    if (reset) reset();
    const std::uint64_t after = Accounting::BytesInUse();
    const std::int64_t blocksAfter = liveBlocks.load();
    std::size_t mallocAfter = 0;
    const bool mallocLeak =
        haveMalloc && MallocBytesInUse(mallocAfter) && mallocAfter != mallocBefore;
    if (after != before || blocksAfter != blocksBefore || mallocLeak) {
      report.faults.push_back("k=" + std::to_string(k) + " (" + std::string(outcome.View()) +
                              "): heap " + std::to_string(before) + " -> " + std::to_string(after) +
                              " bytes, " + std::to_string(blocksBefore) + " -> " +
                              std::to_string(blocksAfter) + " blocks, malloc " +
                              std::to_string(mallocBefore) + " -> " + std::to_string(mallocAfter));
    }
  };

  // Warm-up: what a first call and a first failure make for the rest of the process
  // (statics, caches) is made before anything is measured; so is the C library's time
  // zone, which the first log line's time stamp loads. A leak of every failing run still
  // shows in the runs below.
  tzset();
  for (const std::uint64_t k : {0, 1}) {
    if (reset) reset();
    heap.Prepare(k);
    run(outcome);
  }
  once(0);
  report.allocations = heap.Numbered();
  if (!(outcome == "ok")) {
    report.faults.push_back("the run without a refusal gave " + std::string(outcome.View()));
  }
  for (const std::uint64_t k : SampledRefusals(report.allocations, samples)) {
    once(k);
    if (outcome.View().starts_with("WRONG")) {
      report.faults.push_back("k=" + std::to_string(k) + ": " + std::string(outcome.View()));
    }
    // A run may allocate a little less than the counted one (a number printed shorter):
    // it completes before reaching its k.
    if (!heap.Refused() && outcome == "ok") {
      ++report.unrefused;
      continue;
    }
    ++report.runs;
    // A refusal some code absorbs (a sort that falls back to working in place, a log
    // line dropped) leaves the run complete and correct: "ok".
    ++report.outcomes[std::string(outcome.View())];
  }
  // The entry point serves as before once the heap no longer refuses.
  once(0);
  if (!(outcome == "ok")) {
    report.faults.push_back("the run after the sweep gave " + std::string(outcome.View()));
  }

  std::string summary;
  for (const auto& [text, count] : report.outcomes) {
    summary += "; " + std::to_string(count) + "x " + text;
  }
  if (report.unrefused != 0)
    summary += "; " + std::to_string(report.unrefused) + "x completed unrefused";
  std::printf("[ sweep    ] %s: %llu allocations, %llu refused%s\n", name.c_str(),
              static_cast<unsigned long long>(report.allocations),
              static_cast<unsigned long long>(report.runs), summary.c_str());
  return report;
}

}  // namespace Kavren::Testing
