// Await and Yield: the waiting thread keeps the host's work going.
#include "http/future.h"

#include <chrono>
#include <system_error>

#include "binding/type_identity.h"
#include "http/messages.h"
#include "log/assertion.h"
#include "log/log.h"
#include "util/format.h"

namespace Kavren {
namespace {

// Ends a begun wait however the waiting loop is left.
class WaitScope {
 public:
  explicit WaitScope(HostWaiting& host) : host_(host) {}
  WaitScope(const WaitScope&) = delete;
  WaitScope& operator=(const WaitScope&) = delete;
  ~WaitScope() { End(); }

  bool Begun() const { return begun_; }
  void Begin(const std::string& label) {
    host_.BeginWait(label, 0);
    begun_ = true;
  }
  void End() {
    if (!begun_) return;
    begun_ = false;
    host_.EndWait();
  }

 private:
  HostWaiting& host_;
  bool begun_ = false;
};

MaybeType<Failure, void> PumpUntilReady(HostWaiting& host, FailureFuture& future) {
  WaitScope wait(host);
  for (;;) {
    if (!future.valid()) throw std::future_error(std::future_errc::no_state);
    if (future.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
      wait.End();
      return future.get();
    }
    if (!wait.Begun()) {
      wait.Begin(
          Format(HttpMessages::kFutureWaitLabel, StaticType::Name<MaybeType<Failure, void>>()));
    }
    MaybeType<Failure, void> pumped = host.Pump();
    if (pumped.Failed()) return pumped;
  }
}

}  // namespace

void HostTableWaiting::BeginWait(const std::string& label, std::int32_t reserved) {
  functions_->BeginWait(functions_, label.c_str(), reserved);
}

MaybeType<Failure, void> HostTableWaiting::Pump() {
  functions_->Pump(functions_);
  return MaybeType<Failure, void>::Success();
}

void HostTableWaiting::EndWait() { functions_->EndWait(functions_); }

MaybeType<Failure, void> Await(HostWaiting& host, FailureFuture& future) {
  try {
    return PumpUntilReady(host, future);
  } catch (const std::future_error& error) {
    ReportAssertion(HttpMessages::kFutureErrorAssertion, "", "", 0, "");
    const std::string description =
        Format(HttpMessages::kFutureErrorCaught, error.code().value(), error.what());
    LogPrintf(kLogLevelError, static_cast<std::uint32_t>(kLogGroupDbg), 0, "%s",
              description.c_str());
    throw;
  }
}

void Yield(HostWaiting& host) {
  WaitScope wait(host);
  wait.Begin(HttpMessages::kYieldWaitLabel);
  // A yield is one turn of work, not a wait for a result: nothing is left to end early.
  IgnoreOutcome(host.Pump());
  wait.End();
}

}  // namespace Kavren
