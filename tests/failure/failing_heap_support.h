// Test helper: a failing heap over the accounting hooks, and the sweep that fails each
// allocation of a run in turn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "util/accounting.h"

namespace Kavren::Testing {

/// While it exists, the accounting's operations go through hooks that number the
/// allocations (allocate, reallocate to a non-zero size, duplicate text) made inside a
/// RefusalWindow on the thread that made the heap, and refuse the one numbered k;
/// everything else goes to the counting hooks, so the counters stay true. Allocations
/// made while a HostScope exists (the test's host at work) are neither numbered nor
/// refused. One at a time.
class FailingHeap {
 public:
  FailingHeap();
  ~FailingHeap();
  FailingHeap(const FailingHeap&) = delete;
  FailingHeap& operator=(const FailingHeap&) = delete;

  /// Numbers allocations from 1 again and refuses number `k` (0: refuses none).
  void Prepare(std::uint64_t k);
  /// Allocations numbered since Prepare.
  [[nodiscard]] std::uint64_t Numbered() const;
  /// Whether allocation k was refused since Prepare.
  [[nodiscard]] bool Refused() const;

 private:
  const Accounting::Hooks* previous_;
};

/// While it exists, the failing heap numbers (and may refuse) this thread's allocations:
/// it encloses the call of the entry point under test and nothing of the test's own.
class RefusalWindow {
 public:
  RefusalWindow() noexcept;
  ~RefusalWindow();
  RefusalWindow(const RefusalWindow&) = delete;
  RefusalWindow& operator=(const RefusalWindow&) = delete;
};

/// A window opened and closed by hand, where it cannot be a scope (from inside a host
/// function until the plugin's call returns).
void OpenRefusalWindow() noexcept;
void CloseRefusalWindow() noexcept;

/// Marks the test host's own work on this thread: its allocations are never refused.
class HostScope {
 public:
  HostScope() noexcept;
  ~HostScope();
  HostScope(const HostScope&) = delete;
  HostScope& operator=(const HostScope&) = delete;
};

/// Bytes the process heap holds (malloc's own count, libraries that bypass the accounting
/// included): the sanitizer's count, or glibc's main arena when its thread cache is off
/// (GLIBC_TUNABLES=glibc.malloc.tcache_count=0, set by CTest). Nothing when unknown.
[[nodiscard]] bool MallocBytesInUse(std::size_t& bytes);

/// What a run of a sweep gave, in a buffer of its own: setting it allocates nothing, so
/// that it cannot disturb the heap counts compared around the run.
class SweepOutcome {
 public:
  SweepOutcome& operator=(std::string_view text);
  SweepOutcome& operator+=(std::string_view text);
  /// Puts `text` in front.
  void Prefix(std::string_view text);
  [[nodiscard]] std::string_view View() const { return {text_, size_}; }
  [[nodiscard]] bool empty() const { return size_ == 0; }
  bool operator==(std::string_view text) const { return View() == text; }

 private:
  char text_[512] = {};
  std::size_t size_ = 0;
};

/// One run of a sweep: calls the entry point inside a RefusalWindow and sets `outcome` to
/// "ok" when the call completed as it should, otherwise to the failure as the entry point
/// reported it, or to "WRONG: ..." when what it did is not what it should have done.
using SweepRun = std::function<void(SweepOutcome& outcome)>;

/// One sweep: the allocations a run makes and what each refusal gave.
struct SweepReport {
  std::uint64_t allocations = 0;  // numbered in a run that completed
  std::uint64_t runs = 0;         // runs with a refusal
  std::uint64_t unrefused = 0;    // runs that completed before reaching their k
  std::map<std::string, std::uint64_t> outcomes;
  std::vector<std::string> faults;  // leaks and runs that refused nothing but failed
};

/// Runs `run` unrefused to count its allocations N, then with allocation k refused for k
/// in 1..N: every k when HXA_SWEEP_FULL is set, otherwise about `samples` of them at a
/// fixed stride (the first and the last always). Before each run `reset` brings the state
/// back to where the sweep started (it runs unrefused); the heap accounting (bytes and
/// blocks) and the process heap must be back where they were after each run, once `reset`
/// has run again.
/// Prints one summary line.
SweepReport Sweep(const std::string& name, const SweepRun& run,
                  const std::function<void()>& reset = {}, std::uint64_t samples = 48);

}  // namespace Kavren::Testing
