// Concurrency tests of the log manager: lock order, one-time making, ordering, groups.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "log/log_groups.h"
#include "log/log_manager.h"
#include "support/capturing_log_target.h"

namespace Kavren {
namespace {

using Testing::CapturingLogTarget;

// Starts `count` threads that wait for one signal, so their first calls race.
template <class Body>
void RunTogether(int count, Body body) {
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < count; ++i) {
    threads.emplace_back([&, i] {
      while (!go.load()) std::this_thread::yield();
      body(i);
    });
  }
  go.store(true);
  for (std::thread& thread : threads) thread.join();
}

TEST(LogConcurrency, RacingFirstLogCallsMakeOneManager) {
  ASSERT_FALSE(LogManager::Exists());
  constexpr int kThreads = 8;
  // Group GEN passes the manager but neither built-in console target.
  RunTogether(kThreads, [](int i) {
    LogPrintf(kLogLevelWarn, static_cast<std::uint32_t>(kLogGroupGen), 0, "first %d", i);
  });
  // A second making would have reset the counts.
  EXPECT_EQ(LogManager::RecordCounts().warnings, static_cast<std::uint64_t>(kThreads));
  const LogApi& api = GetLogApi();
  api.Acquire();
  api.Release();
  EXPECT_FALSE(LogManager::Exists());
}

// Configure takes the target's lock and then attaches; dispatch holds the
// manager's lock and then takes the target's. Neither may wait for the other.
TEST(LogConcurrency, ConfigureWhileLoggingDoesNotDeadlock) {
  const LogApi& api = GetLogApi();
  api.Acquire();
  for (LogTargetEntry* entry : {api.StdErrTarget(), api.DebuggerTarget()}) entry->Detach(entry);
  {
    CapturingLogTarget target;
    LogTargetSettings settings;
    settings.level = kLogLevelOkay;
    settings.pattern = "#M";
    Configure(target, settings);
    // Each thread keeps going until both have done their rounds, so the two
    // lock orders overlap for the whole test.
    constexpr int kRounds = 5000;
    std::atomic<int> configured{0};
    std::atomic<int> logged{0};
    const auto bothDone = [&] { return configured.load() >= kRounds && logged.load() >= kRounds; };
    RunTogether(2, [&](int i) {
      for (int round = 0; !bothDone(); ++round) {
        if (i == 0) {
          settings.level = round % 2;
          Configure(target, settings);
          ++configured;
        } else {
          LogPrintf(kLogLevelWarn, 0, 0, "round %d", round);
          ++logged;
        }
      }
    });
    EXPECT_TRUE(target.IsAttached());
    const std::size_t before = target.Records().size();
    LogPrintf(kLogLevelWarn, 0, 0, "after");
    ASSERT_EQ(target.Records().size(), before + 1);
    EXPECT_EQ(target.Records().back().line, "after\n");
  }
  api.Release();
}

TEST(LogConcurrency, RecordsReachEveryTargetWholeAndInTheSameOrder) {
  const LogApi& api = GetLogApi();
  api.Acquire();
  for (LogTargetEntry* entry : {api.StdErrTarget(), api.DebuggerTarget()}) entry->Detach(entry);
  {
    CapturingLogTarget first;
    CapturingLogTarget second;
    LogTargetSettings settings;
    settings.pattern = "#L #M";
    Configure(first, settings);
    Configure(second, settings);
    constexpr int kThreads = 4;
    constexpr int kRecords = 300;
    RunTogether(kThreads, [](int i) {
      for (int n = 0; n < kRecords; ++n)
        LogPrintf(kLogLevelWarn, 0, 0, "thread %d record %d", i, n);
    });
    const auto a = first.Records();
    const auto b = second.Records();
    ASSERT_EQ(a.size(), static_cast<std::size_t>(kThreads * kRecords));
    ASSERT_EQ(b.size(), a.size());
    for (std::size_t n = 0; n < a.size(); ++n) {
      ASSERT_EQ(a[n].message, b[n].message);
      ASSERT_EQ(a[n].line, "  WARN " + a[n].message + "\n");
    }
    EXPECT_EQ(LogManager::RecordCounts().warnings, a.size());
  }
  api.Release();
}

TEST(LogConcurrency, RacingRegistrationsOfOneTagShareItsBit) {
  constexpr int kThreads = 8;
  std::vector<std::uint64_t> bits(kThreads);
  RunTogether(kThreads, [&](int i) { bits[i] = RegisterLogGroup(i % 2 == 0 ? "RCA" : "RCB"); });
  const std::set<std::uint64_t> distinct(bits.begin(), bits.end());
  EXPECT_EQ(distinct.size(), 2u);
  EXPECT_EQ(distinct.count(0), 0u);
  EXPECT_EQ(LastLogGroupInUse(), 9);
}

}  // namespace
}  // namespace Kavren
