// Awaiting futures on a host thread by pumping the host's pending work.
#pragma once

#include <cstdint>
#include <future>
#include <string>

#include "abi/host.h"
#include "util/failure.h"

namespace Kavren {

/// The outcome of an asynchronous framework call.
using FailureFuture = std::future<MaybeType<Failure, void>>;

/// The three host operations a waiting thread uses. The application module
/// implements them by forwarding to the host's table; all run on the calling
/// host thread.
class HostWaiting {
 public:
  /// Marks the calling thread as waiting for `label`; `reserved` is always 0.
  virtual void BeginWait(const std::string& label, std::int32_t reserved) = 0;
  /// Runs one unit of the host's pending work on the calling thread. A failure says that
  /// no more work can run: a wait then ends with it.
  [[nodiscard]] virtual MaybeType<Failure, void> Pump() = 0;
  /// Ends the wait begun by BeginWait.
  virtual void EndWait() = 0;

 protected:
  ~HostWaiting() = default;
};

/// HostWaiting straight over a host function table (which must stay valid).
class HostTableWaiting final : public HostWaiting {
 public:
  explicit HostTableWaiting(Abi::HostFunctions* functions) : functions_(functions) {}

  void BeginWait(const std::string& label, std::int32_t reserved) override;
  [[nodiscard]] MaybeType<Failure, void> Pump() override;
  void EndWait() override;

 private:
  Abi::HostFunctions* functions_;
};

/// [calling host thread] Returns the future's value, pumping the host until it is
/// ready, or until a Pump fails, whose failure it returns; never blocks and has no
/// time-out. A ready future returns without any
/// wait call; otherwise BeginWait("Wait: future<...>") runs once before the first
/// Pump and EndWait once when the value is there (also when the wait ends by an
/// exception). A std::future_error (no state, broken promise, ...) is reported
/// ("ALE-6D828C10") and logged, then rethrown. While pumping, the host may run
/// other plugin work on this thread: hold no lock that such work takes.
[[nodiscard]] MaybeType<Failure, void> Await(HostWaiting& host, FailureFuture& future);

/// [calling host thread] One turn of host work: BeginWait("Wait: yield"), Pump, EndWait.
void Yield(HostWaiting& host);

}  // namespace Kavren
