// Awaiting on several host threads while other threads complete the promises.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "http/fake_host.h"
#include "http/future.h"
#include "util/failure.h"

namespace Kavren {
namespace {

using Testing::FakeHost;

// Each awaiting thread pumps its own fake host; the first pump starts a thread that
// completes the promise, so the value arrives while the awaiting thread pumps.
TEST(AwaitConcurrency, CompletionFromOtherThreadsEndsEachWait) {
  constexpr int kWaiters = 4;
  std::vector<std::thread> waiters;
  std::atomic<int> succeeded{0};
  for (int i = 0; i < kWaiters; ++i) {
    waiters.emplace_back([i, &succeeded] {
      FakeHost host;
      HostTableWaiting waiting(host.Functions());
      std::promise<MaybeType<Failure, void>> promise;
      FailureFuture future = promise.get_future();
      std::thread completer;
      host.onPump = [&] {
        if (!completer.joinable()) {
          completer = std::thread([&promise, i] {
            promise.set_value(Failure{400 + i, "late " + std::to_string(i)});
          });
        }
      };

      const MaybeType<Failure, void> outcome = Await(waiting, future);
      completer.join();

      if (outcome.GetFailure().code == 400 + i &&
          outcome.GetFailure().message == "late " + std::to_string(i) &&
          host.calls.front().rfind("BeginWait:Wait: future<", 0) == 0 &&
          host.calls.back() == "EndWait") {
        ++succeeded;
      }
    });
  }
  for (std::thread& waiter : waiters) waiter.join();
  EXPECT_EQ(succeeded.load(), kWaiters);
}

}  // namespace
}  // namespace Kavren
