// Awaiting futures and yielding by pumping the host.
#include "http/future.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>
#include <vector>

#include "http/fake_host.h"
#include "log/log.h"
#include "support/capturing_log_target.h"
#include "util/failure.h"

namespace Kavren {
namespace {

using Testing::CapturingLogTarget;
using ::testing::ElementsAre;
using Testing::FakeHost;

const char kFutureLabel[] =
    "BeginWait:Wait: future<const char *__cdecl StaticType::Name<class "
    "Kavren::MaybeType<class Kavren::Failure,void>>(void)>:0";

class AwaitTest : public ::testing::Test {
 protected:
  FakeHost host;
  HostTableWaiting waiting{host.Functions()};
  std::promise<MaybeType<Failure, void>> promise;
  FailureFuture future = promise.get_future();
};

TEST_F(AwaitTest, ReadyFutureReturnsWithoutAnyWaitCall) {
  promise.set_value(Failure{503, "down"});

  const MaybeType<Failure, void> outcome = Await(waiting, future);

  ASSERT_TRUE(outcome.Failed());
  EXPECT_EQ(outcome.GetFailure().code, 503);
  EXPECT_EQ(outcome.GetFailure().message, "down");
  EXPECT_TRUE(host.calls.empty());
}

TEST_F(AwaitTest, FutureReadyAfterThreePumpsBeginsAndEndsOneWait) {
  int pumps = 0;
  host.onPump = [&] {
    if (++pumps == 3) promise.set_value(MaybeType<Failure, void>::Success());
  };

  const MaybeType<Failure, void> outcome = Await(waiting, future);

  EXPECT_TRUE(outcome.Succeeded());
  EXPECT_THAT(host.calls, ElementsAre(kFutureLabel, "Pump", "Pump", "Pump", "EndWait"));
}

TEST_F(AwaitTest, DefaultConstructedFutureReportsAndRethrowsNoState) {
  CapturingLogTarget log{CapturingLogTarget::EveryRecord()};
  FailureFuture empty;

  try {
    IgnoreOutcome(Await(waiting, empty));
    FAIL() << "no future_error";
  } catch (const std::future_error& error) {
    EXPECT_EQ(error.code(), std::future_errc::no_state);
  }

  EXPECT_TRUE(host.calls.empty());
  const auto records = log.Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].level, kLogLevelError);
  EXPECT_EQ(records[0].groups, kLogGroupDbg);
  EXPECT_EQ(records[0].message, "Assertion failed!\n\nExpression: ALE-6D828C10");
  EXPECT_EQ(records[1].level, kLogLevelError);
  EXPECT_EQ(records[1].message, "Caught std::future_error in AppModule::Await: (" +
                                    std::to_string(static_cast<int>(std::future_errc::no_state)) +
                                    ") std::future_error: No associated state");
}

TEST_F(AwaitTest, ValueAlreadyTakenIsNoState) {
  promise.set_value(MaybeType<Failure, void>::Success());
  EXPECT_TRUE(Await(waiting, future).Succeeded());

  EXPECT_THROW(IgnoreOutcome(Await(waiting, future)), std::future_error);
  EXPECT_TRUE(host.calls.empty());
}

TEST_F(AwaitTest, BrokenPromiseWhilePumpingEndsTheBegunWait) {
  CapturingLogTarget log{CapturingLogTarget::EveryRecord()};
  auto owner = std::make_unique<std::promise<MaybeType<Failure, void>>>();
  FailureFuture broken = owner->get_future();
  int pumps = 0;
  host.onPump = [&] {
    if (++pumps == 2) owner.reset();
  };

  try {
    IgnoreOutcome(Await(waiting, broken));
    FAIL() << "no future_error";
  } catch (const std::future_error& error) {
    EXPECT_EQ(error.code(), std::future_errc::broken_promise);
  }

  EXPECT_THAT(host.calls, ElementsAre(kFutureLabel, "Pump", "Pump", "EndWait"));
  const auto records = log.Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].message, "Assertion failed!\n\nExpression: ALE-6D828C10");
}

TEST(Yield, BeginsPumpsOnceAndEnds) {
  FakeHost host;
  HostTableWaiting waiting(host.Functions());

  Yield(waiting);

  EXPECT_THAT(host.calls, ElementsAre("BeginWait:Wait: yield:0", "Pump", "EndWait"));
}

}  // namespace
}  // namespace Kavren
