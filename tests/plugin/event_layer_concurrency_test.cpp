// The event layer's locked tables used from several host threads at once: jobs scheduled
// and run concurrently, service-proxy replies racing the requests that wait for them.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "event_host_support.h"
#include "plugin/event_layer.h"

namespace Kavren::Testing {
namespace {

constexpr int kThreads = 4;

TEST(EventLayerConcurrencyTest, JobsScheduledAndRunFromSeveralThreadsRunOnceEach) {
  FakeEventHost host;
  StartedModule module(host);
  constexpr int kJobsPerThread = 100;
  std::atomic<int> ran{0};

  std::vector<std::thread> schedulers;
  for (int t = 0; t < kThreads; ++t) {
    schedulers.emplace_back([&] {
      for (int i = 0; i < kJobsPerThread; ++i) {
        module->ScheduleJob(
            "job", [&ran] { ++ran; }, 0);
      }
    });
  }
  for (std::thread& thread : schedulers) thread.join();
  ASSERT_EQ(host.Jobs().size(), static_cast<std::size_t>(kThreads * kJobsPerThread));
  EXPECT_EQ(module->PendingJobCount(), static_cast<std::size_t>(kThreads * kJobsPerThread));

  // Each runner takes every kThreads'th job, while one more thread keeps scheduling.
  std::vector<std::thread> runners;
  for (int t = 0; t < kThreads; ++t) {
    runners.emplace_back([&host, t] {
      for (std::size_t i = t; i < kThreads * kJobsPerThread; i += kThreads) host.RunJob(i);
    });
  }
  std::thread late([&] {
    for (int i = 0; i < kJobsPerThread; ++i)
      module->ScheduleJob(
          "late", [&ran] { ++ran; }, 0);
  });
  for (std::thread& thread : runners) thread.join();
  late.join();
  EXPECT_EQ(ran.load(), kThreads * kJobsPerThread);
  EXPECT_EQ(module->PendingJobCount(), static_cast<std::size_t>(kJobsPerThread));
}

TEST(EventLayerConcurrencyTest, EveryWaitingRequestMeetsItsReplyWhicheverComesFirst) {
  FakeEventHost host;
  StartedModule module(host);
  constexpr int kKeys = 200;
  std::mutex seenLock;
  std::multiset<std::string> seen;

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int k = t; k < kKeys; k += kThreads) {
        const std::string method = "m" + std::to_string(k);
        // Half the threads wait first, half reply first.
        auto request = [&] {
          module->AddServiceProxyRequest("svc." + method,
                                         [&](const PluginServiceProxyResponse& reply) {
                                           std::lock_guard<std::mutex> guard(seenLock);
                                           seen.insert(reply.methodName);
                                         });
        };
        auto reply = [&] {
          host.Deliver("OnServiceProxyMethodEvent",
                       R"({"serviceName":"svc","methodName":")" + method + R"("})");
        };
        if (t % 2 == 0) {
          request();
          reply();
        } else {
          reply();
          request();
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_EQ(seen.size(), static_cast<std::size_t>(kKeys));
  for (int k = 0; k < kKeys; ++k) EXPECT_EQ(seen.count("m" + std::to_string(k)), 1u);
}

}  // namespace
}  // namespace Kavren::Testing
