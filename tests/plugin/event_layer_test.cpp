// The event layer driven through a recording host: subscriptions, event dispatch,
// resource publishing, service-proxy replies, jobs, shut-down and telemetry.
#include "plugin/event_layer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <stdexcept>
#include <string>
#include <vector>

#include "event_host_support.h"
#include "plugin/typed_events.h"

namespace Kavren::Testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using LogLine = std::pair<std::int32_t, std::string>;

class EventLayerTest : public ::testing::Test {
 protected:
  FakeEventHost host_;
  StartedModule module_{host_};
};

TEST_F(EventLayerTest, StartSubscribesTheServiceProxyEventsWithTheModuleIdAsContext) {
  std::vector<std::string> names;
  for (const HostSubscription& subscription : host_.Subscriptions()) {
    names.push_back(subscription.name + " " + std::to_string(subscription.flag));
    EXPECT_EQ(subscription.cookie, 77u);
    EXPECT_EQ(subscription.context, reinterpret_cast<void*>(module_->ModuleId()));
  }
  EXPECT_THAT(names, ElementsAre("OnServiceProxyUuidEvent 1", "OnServiceProxyMethodEvent 1",
                                 "OnServiceProxyAsyncEvent 1"));
  // The framework's types are in the module's registry.
  EXPECT_NE(module_->Registry().FindType("PluginResourceEvent"), nullptr);
  EXPECT_NE(module_->Registry().FindEvent("OnQrmsEvent"), nullptr);
  EXPECT_NE(module_->Registry().FindEvent("OnCallback"), nullptr);
}

TEST_F(EventLayerTest, SubscriptionsAreCountedPerEventName) {
  // Both paths map to the same event name: one host subscription, two counts.
  module_->Subscribe("/hxa-login/v1/session");
  module_->Subscribe("/hxa-login/v1/session/extra");
  module_->Unsubscribe("/hxa-login/v1/session");
  EXPECT_THAT(host_.Calls(), ElementsAre("Subscribe OnJsonApiEvent_hxa-login_v1_session 0"));
  module_->Unsubscribe("/hxa-login/v1/session/extra");
  // Unbalanced: ignored rather than given away twice.
  module_->Unsubscribe("/hxa-login/v1/session");
  EXPECT_THAT(host_.Calls(), ElementsAre("Subscribe OnJsonApiEvent_hxa-login_v1_session 0",
                                         "Unsubscribe OnJsonApiEvent_hxa-login_v1_session"));
  module_->Subscribe("/hxa-platform-config/v1/a/b/c/d");
  EXPECT_EQ(host_.Calls().back(), "Subscribe OnJsonApiEvent_hxa-platform-config_v1_a_b_c 0");
}

TEST_F(EventLayerTest, ResourceEventsReachExactAndMatchingPatternHandlersInOrder) {
  std::vector<std::string> seen;
  auto record = [&seen](const char* who) {
    return [&seen, who](const PluginResourceEvent& event) {
      seen.push_back(std::string(who) + " " + event.uri + " " +
                     std::to_string(static_cast<int>(event.eventType)) + " " +
                     std::string(event.data.GetString()));
    };
  };
  module_->SetResourceHandler("/hxa-x/v1/*", record("pattern1"));
  module_->SetResourceHandler("/hxa-x/v1/abc", record("exact"));
  module_->SetResourceHandler("/hxa-x/*/abc", record("pattern2"));
  module_->SetResourceHandler("/hxa-x/v1/abc", record("exact2"));  // replaces
  module_->Subscribe("/hxa-x/v1/abc");
  module_->Subscribe("/hxa-x/v1/a/b");
  const std::string name = "OnJsonApiEvent_hxa-x_v1_abc";

  // The leading "/" is added when the uri lacks it.
  EXPECT_TRUE(host_.Deliver(name, R"({"uri":"hxa-x/v1/abc","eventType":"Update","data":"d"})"));
  EXPECT_THAT(seen, ElementsAre("exact2 /hxa-x/v1/abc 1 d", "pattern1 /hxa-x/v1/abc 1 d",
                                "pattern2 /hxa-x/v1/abc 1 d"));
  seen.clear();
  // "*" does not cross a "/"; a payload that does not convert is dropped.
  EXPECT_TRUE(host_.Deliver("OnJsonApiEvent_hxa-x_v1_a", R"({"uri":"/hxa-x/v1/a/b"})"));
  EXPECT_TRUE(host_.Deliver(name, R"({"uri":"/hxa-x/v1/abc","eventType":"Sideways"})"));
  EXPECT_TRUE(host_.Deliver(name, R"([1, 2])"));
  EXPECT_THAT(seen, IsEmpty());
}

TEST_F(EventLayerTest, PublishResourceSendsThePathEventThenOnJsonApiEvent) {
  const Note note{"hi", 2};
  EXPECT_TRUE(module_
                  ->PublishResource(PluginResourceEventType::kUpdate,
                                    "/hxa-player-messaging/v1/notification", note)
                  .Succeeded());
  const std::string payload = R"({"data":{"count":2,"text":"hi"},"eventType":"Update",)"
                              R"("uri":"/hxa-player-messaging/v1/notification"})";
  EXPECT_THAT(
      host_.Calls(),
      ElementsAre("Publish OnJsonApiEvent_hxa-player-messaging_v1_notification 0 " + payload,
                  "Publish OnJsonApiEvent 0 " + payload));

  // A path without segments is published once.
  host_.ClearCalls();
  EXPECT_TRUE(module_->PublishResource(PluginResourceEventType::kDelete, "/", note).Succeeded());
  ASSERT_EQ(host_.Calls().size(), 1u);
  EXPECT_EQ(host_.Calls()[0].rfind("Publish OnJsonApiEvent 0 ", 0), 0u);

  // A resource that does not convert is not announced, and the caller learns it.
  host_.ClearCalls();
  const MaybeType<Failure, void> failed =
      module_->PublishResource(PluginResourceEventType::kUpdate, "/x/v1/y", Unregistered{});
  ASSERT_TRUE(failed.Failed());
  EXPECT_EQ(failed.GetFailure().code, 0);
  EXPECT_EQ(failed.GetFailure().message.Str().rfind(
                "Couldn't convert resource for event uri \"/x/v1/y\": ", 0),
            0u);
  EXPECT_THAT(host_.Calls(), IsEmpty());
}

TEST_F(EventLayerTest, TypedHandlersConvertThePayloadAndNeverThrowToTheHost) {
  std::vector<Note> notes;
  module_->RegisterEventHandler<Note>(
      "OnNote", [&notes](const Note& note) { notes.push_back(note); }, 5);
  EXPECT_THAT(host_.Calls(), ElementsAre("Subscribe OnNote 5"));

  EXPECT_TRUE(host_.Deliver("OnNote", R"({"text":"a","count":3})"));
  EXPECT_TRUE(host_.Deliver("OnNote", R"({"text":"b","count":"three"})"));  // dropped
  EXPECT_THAT(notes, ElementsAre(Note{"a", 3}));

  // A name without handler is ignored, even with the module's context.
  const HostSubscription subscription = host_.Subscriptions().back();
  Abi::HostEventRecord record;
  std::memset(static_cast<void*>(&record), 0, sizeof(record));
  record.name = "OnOther";
  record.context = subscription.context;
  subscription.callback(&record);
  EXPECT_EQ(notes.size(), 1u);

  // A throwing handler and an empty one (a broken registration) end in a level-2 log line.
  module_->RegisterEventHandler<Note>(
      "OnNote", [](const Note&) -> void { throw std::runtime_error("boom"); }, 5);
  EXPECT_TRUE(host_.Deliver("OnNote", R"({"text":"c"})"));
  module_->RegisterEventHandler<Note>("OnNote", std::function<void(const Note&)>(), 5);
  EXPECT_TRUE(host_.Deliver("OnNote", R"({"text":"d"})"));
  EXPECT_THAT(host_.Logs(), ElementsAre(LogLine{2, "event callback failed: boom"},
                                        LogLine{2, "event callback failed: bad_function_call"}));
}

TEST_F(EventLayerTest, ServiceProxyRepliesFulfilOneWaitingRequest) {
  std::vector<std::string> fulfilled;
  auto request = [&fulfilled](const char* who) {
    return [&fulfilled, who](const PluginServiceProxyResponse& reply) {
      fulfilled.push_back(std::string(who) + ":" + reply.payload);
    };
  };
  module_->AddServiceProxyRequest("svc.m", request("method"));
  module_->AddServiceProxyRequest("u-1", request("uuid"));

  EXPECT_TRUE(host_.Deliver("OnServiceProxyMethodEvent",
                            R"({"serviceName":"svc","methodName":"m","payload":"p1"})"));
  EXPECT_TRUE(host_.Deliver("OnServiceProxyUuidEvent", R"({"uuid":"u-1","payload":"p2"})"));
  // No request waits any more: the reply is kept until one does.
  EXPECT_TRUE(host_.Deliver("OnServiceProxyMethodEvent",
                            R"({"serviceName":"svc","methodName":"m","payload":"p3"})"));
  EXPECT_THAT(fulfilled, ElementsAre("method:p1", "uuid:p2"));
  module_->AddServiceProxyRequest("svc.m", request("late"));
  EXPECT_THAT(fulfilled, ElementsAre("method:p1", "uuid:p2", "late:p3"));
  EXPECT_THAT(host_.Logs(), ElementsAre(LogLine{3, "Fulfilled service proxy request: svc.m"},
                                        LogLine{3, "Fulfilled service proxy request: u-1"},
                                        LogLine{3, "Fulfilled service proxy request: svc.m"}));
}

TEST_F(EventLayerTest, AsyncServiceProxyRepliesNeedARegisteredHandler) {
  std::vector<std::string> replies;
  module_->AddServiceProxyAsyncHandler(
      "svc.known",
      [&replies](const PluginServiceProxyResponse& reply) { replies.push_back(reply.payload); });
  EXPECT_TRUE(host_.Deliver("OnServiceProxyAsyncEvent",
                            R"({"serviceName":"svc","methodName":"known","payload":"x"})"));
  EXPECT_TRUE(host_.Deliver("OnServiceProxyAsyncEvent",
                            R"({"serviceName":"svc","methodName":"unknown","payload":"y"})"));
  EXPECT_THAT(replies, ElementsAre("x"));
  EXPECT_THAT(
      host_.Logs(),
      ElementsAre(LogLine{
          2, "Could not find registered handler for async service proxy event svc.unknown"}));
}

TEST_F(EventLayerTest, JobsRunOnceAndLeaveTheTable) {
  std::vector<std::string> ran;
  const std::int64_t now = EventLayer::NowNanoseconds();
  module_->ScheduleJob(
      "later", [&ran] { ran.push_back("later"); }, now + 2'500'000'000);
  module_->ScheduleJob(
      "past", [&ran] { ran.push_back("past"); }, now - 1'000'000'000);
  module_->ScheduleJob(
      "throws", [] { throw std::runtime_error("job broke"); }, now);

  const std::vector<HostJob> jobs = host_.Jobs();
  ASSERT_EQ(jobs.size(), 3u);
  EXPECT_EQ(jobs[0].label, "later");
  EXPECT_GT(jobs[0].delaySeconds, 2.4);
  EXPECT_LE(jobs[0].delaySeconds, 2.5);
  EXPECT_EQ(jobs[1].delaySeconds, 0.0);
  EXPECT_EQ(jobs[1].flags, 0);
  EXPECT_EQ(module_->PendingJobCount(), 3u);

  host_.RunJob(1);
  host_.RunJob(0);
  host_.RunJob(2);
  EXPECT_THAT(ran, ElementsAre("past", "later"));
  EXPECT_EQ(module_->PendingJobCount(), 0u);
  EXPECT_THAT(host_.Logs(), ElementsAre(LogLine{2, "job callback failed: job broke"}));
}

TEST_F(EventLayerTest, ShutdownUnsubscribesEveryHandledEventAndEmptiesTheTables) {
  int handled = 0;
  module_->Subscribe("/hxa-a/v1/b");
  module_->RegisterEventHandler<Note>(
      "OnNote", [&handled](const Note&) { ++handled; }, 0);
  module_->AddServiceProxyRequest("svc.m",
                                  [&handled](const PluginServiceProxyResponse&) { ++handled; });
  module_->ScheduleJob(
      "never", [&handled] { ++handled; }, 0);
  host_.ClearCalls();

  module_->Shutdown();
  EXPECT_THAT(
      host_.Calls(),
      ElementsAre("Unsubscribe OnJsonApiEvent_hxa-a_v1_b", "Unsubscribe OnNote",
                  "Unsubscribe OnServiceProxyAsyncEvent", "Unsubscribe OnServiceProxyMethodEvent",
                  "Unsubscribe OnServiceProxyUuidEvent"));
  EXPECT_EQ(module_->PendingJobCount(), 0u);
  EXPECT_FALSE(module_->ServerClasses().ClassForName("Note").has_value());

  // A late event finds no handler; the job the host still holds does nothing.
  for (const HostSubscription& subscription : host_.Subscriptions()) {
    Abi::HostEventRecord record;
    std::memset(static_cast<void*>(&record), 0, sizeof(record));
    record.name = subscription.name.c_str();
    record.context = subscription.context;
    subscription.callback(&record);
  }
  EXPECT_EQ(handled, 0);
  // Subscribing again after shut-down starts from a count of zero.
  host_.ClearCalls();
  module_->Subscribe("/hxa-a/v1/b");
  EXPECT_THAT(host_.Calls(), ElementsAre("Subscribe OnJsonApiEvent_hxa-a_v1_b 0"));
}

TEST_F(EventLayerTest, TelemetrySendsOnePostPerEvent) {
  ASSERT_NE(module_->Telemetry(), nullptr);
  BindingProperty payload;
  payload.Member("k").SetString("v");
  FailureFuture sent = module_->Telemetry()->Send("started", payload);
  EXPECT_TRUE(module_->Await(sent).Succeeded());
  ASSERT_EQ(host_.HostCalls().size(), 1u);
  EXPECT_EQ(host_.HostCalls()[0].path, "/telemetry/v1/events/started");
  EXPECT_EQ(host_.HostCalls()[0].method, Abi::kHttpMethodPost);
  EXPECT_EQ(host_.HostCalls()[0].cookie, 77u);
  EXPECT_THAT(host_.HostCalls()[0].arguments, ElementsAre(R"({"k":"v"})"));

  host_.SetResponder([](Abi::HttpResponseRecord& response, const HostCall&) {
    FakeEventHost::ReplyError(response, 503, "later");
  });
  FailureFuture refused = module_->Telemetry()->Send("stopped", payload);
  const MaybeType<Failure, void> outcome = module_->Await(refused);
  ASSERT_TRUE(outcome.Failed());
  EXPECT_EQ(outcome.GetFailure().code, 503);
  EXPECT_EQ(outcome.GetFailure().message,
            "Error response for POST /telemetry/v1/events/stopped: later");
  // The futures were fulfilled by the synchronous call: no wait was begun.
  EXPECT_THAT(host_.Calls(), ElementsAre("Call 6 /telemetry/v1/events/started",
                                         "Call 6 /telemetry/v1/events/stopped"));
  host_.ClearCalls();
  module_->Yield();
  EXPECT_THAT(host_.Calls(), ElementsAre("BeginWait Wait: yield", "Pump", "EndWait"));
}

// A streamed reply to telemetry: the stream is released before the response, once each.
TEST_F(EventLayerTest, TelemetryReleasesAStreamedReply) {
  static std::vector<std::string> released;
  released.clear();
  host_.SetResponder([](Abi::HttpResponseRecord& response, const HostCall&) {
    response.stream = &released;
    response.streamRead = [](void*, char*, std::uint32_t*, bool*) { return false; };
    response.streamRelease = [](void*) { released.push_back("stream"); };
    response.release = [](Abi::HttpResponseRecord* record) {
      released.push_back(record->stream == nullptr ? "response" : "response with stream");
    };
  });
  FailureFuture sent = module_->Telemetry()->Send("started", BindingProperty());
  EXPECT_TRUE(module_->Await(sent).Succeeded());
  EXPECT_THAT(released, ElementsAre("stream", "response"));
}

// Handlers and jobs may call back into every table of the module, their own entries
// included, on the thread that runs them.
TEST_F(EventLayerTest, HandlersAndJobsMayReenterTheirTables) {
  std::vector<std::string> seen;
  module_->SetResourceHandler("/hxa-a/v1/b", [&](const PluginResourceEvent&) {
    seen.push_back("resource");
    module_->Unsubscribe("/hxa-a/v1/b");
    module_->Subscribe("/hxa-a/v1/b");
    module_->ScheduleJob(
        "from handler",
        [&] {
          seen.push_back("job");
          module_->ScheduleJob(
              "from job", [&] { seen.push_back("nested job"); }, 0);
          module_->AddServiceProxyRequest("svc.m", [&](const PluginServiceProxyResponse&) {
            seen.push_back("reply");
            module_->AddServiceProxyAsyncHandler("svc.m", [](const auto&) {});
          });
        },
        0);
  });
  module_->Subscribe("/hxa-a/v1/b");
  ASSERT_TRUE(host_.Deliver("OnJsonApiEvent_hxa-a_v1_b", R"({"uri": "/hxa-a/v1/b"})"));
  host_.RunJob(0);
  // A host that runs a job twice runs it once.
  host_.RunJob(0);
  host_.RunJob(1);
  module_->OnServiceProxyMethodEvent(PluginServiceProxyResponse{"", "svc", "m", "", "", ""});
  EXPECT_THAT(seen, ElementsAre("resource", "job", "nested job", "reply"));
  EXPECT_EQ(module_->PendingJobCount(), 0u);
}

// Nothing pumps a stopped module's host any more: a wait for a future that nothing
// completes ends with a failure instead of spinning.
TEST_F(EventLayerTest, AWaitEndsWhenTheModuleStops) {
  std::promise<MaybeType<Failure, void>> never;
  FailureFuture future = never.get_future();
  module_->EndHostSession();
  const MaybeType<Failure, void> outcome = module_->Await(future);
  ASSERT_TRUE(outcome.Failed());
  EXPECT_EQ(outcome.GetFailure().code, 0);
  EXPECT_EQ(outcome.GetFailure().message, "The module stopped while waiting");
}

}  // namespace
}  // namespace Kavren::Testing
