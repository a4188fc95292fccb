// The development host's job workers: jobs run concurrently on at least two threads, and
// Stop waits for a running job.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "fake_plugin.h"
#include "host/core/development_host.h"

namespace Kavren::Host {
namespace {

using ::testing::ElementsAre;

TEST(HostJobsConcurrencyTest, TwoJobsRunAtTheSameTimeOnWorkers) {
  Testing::Fake().Reset();
  DevelopmentHost host;
  ASSERT_TRUE(host.Load(Testing::FakeLoad, CoreVersion{}));
  ASSERT_TRUE(host.Start());
  // Each job waits (boundedly) for the other: both finish early only when two
  // threads run them at once.
  std::atomic<int> arrived{0};
  std::atomic<int> metOther{0};
  const auto caller = std::this_thread::get_id();
  std::atomic<bool> onCaller{false};
  for (const char* label : {"a", "b"}) {
    Testing::Schedule(label, [&] {
      if (std::this_thread::get_id() == caller) onCaller = true;
      ++arrived;
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (arrived < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
      }
      if (arrived == 2) ++metOther;
    });
  }
  EXPECT_TRUE(host.WaitForJobs());
  EXPECT_EQ(metOther, 2);
  EXPECT_FALSE(onCaller);

  // A delayed job runs once due, on a worker, without anyone pumping.
  std::atomic<bool> delayed{false};
  Testing::Schedule(
      "delayed", [&] { delayed = true; }, 0.02);
  EXPECT_TRUE(host.WaitForJobs());
  EXPECT_TRUE(delayed);
  host.Stop();
}

TEST(HostJobsConcurrencyTest, StopWaitsForARunningJob) {
  Testing::Fake().Reset();
  DevelopmentHost host;
  ASSERT_TRUE(host.Load(Testing::FakeLoad, CoreVersion{}));
  ASSERT_TRUE(host.Start());
  std::atomic<bool> running{false};
  Testing::Schedule("slow", [&] {
    running = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Testing::Fake().Record(Testing::Fake().order, "job done");
  });
  while (!running) std::this_thread::yield();
  host.Stop();
  EXPECT_THAT(Testing::Fake().Copy(Testing::Fake().order), ElementsAre("job done", "stop"));
}

}  // namespace
}  // namespace Kavren::Host
