// The built plugin under host orderings the happy path never tries: calls before Start,
// during Start and after Stop, Stop twice, re-entrant calls, odd answers to Call, and two
// modules at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cstring>
#include <string>
#include <vector>

#include "abi/http.h"
#include "host/core/development_host.h"
#include "host/core/document.h"
#include "host/core/host_value.h"
#include "host/core/messages.h"
#include "host/core/plugin_library.h"
#include "interposed_host_support.h"
#include "support/built_plugin.h"
#include "support/host_outcome.h"

namespace Kavren::Host {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

constexpr char kNotificationPath[] = "/hxa-player-messaging/v1/notification";
constexpr char kAcknowledgeTemplate[] = "/hxa-player-messaging/v1/notification/{id}/acknowledge";
constexpr char kNotificationEvent[] = "OnJsonApiEvent_hxa-player-messaging_v1_notification";
constexpr char kEmptyHead[] = R"({"body":"","id":0,"msgId":"","status":0,"title":""})";

rapidjson::Document Json(const std::string& text) {
  rapidjson::Document document;
  EXPECT_TRUE(Succeeded(ParseJsonText(text, document)));
  return document;
}

// A packet of `count` player messages "m1", "m2", ... for account 7.
rapidjson::Document Packet(int count) {
  std::string messages;
  for (int index = 1; index <= count; ++index) {
    if (index > 1) messages += ",";
    messages += R"({"type": "pss-player-message", "msgId": "m)" + std::to_string(index) +
                R"(", "params": ["{\"title\": \"t)" + std::to_string(index) + R"(\"}"]})";
  }
  return Json(R"({"allVelkinData": {"velkin": {"acctId": 7}}, "simpleMessages": [)" + messages +
              "]}");
}

void Push(DevelopmentHost& host, const std::string& msgId) {
  const rapidjson::Document body =
      Json(R"({"type": "pss-player-message", "msgId": ")" + msgId + R"(", "params": ["{}"]})");
  const MaybeType<Failure, std::size_t> pushed =
      host.PushServerMessage(body, HostMessages::kSimpleDialogMessageClass);
  ASSERT_TRUE(Succeeded(pushed));
  EXPECT_EQ(pushed.Value(), 1u);
}

MaybeType<Failure, EndpointReply> Get(DevelopmentHost& host) {
  EndpointCall call;
  call.path = kNotificationPath;
  return host.CallEndpoint(call);
}

MaybeType<Failure, EndpointReply> Acknowledge(DevelopmentHost& host, int id) {
  EndpointCall call;
  call.method = Abi::kHttpMethodDelete;
  call.path = std::string(kNotificationPath) + "/" + std::to_string(id) + "/acknowledge";
  return host.CallEndpoint(call);
}

std::string Describe(const MaybeType<Failure, EndpointReply>& called) {
  if (called.Failed()) return "not called: " + called.GetFailure().message;
  const EndpointReply& reply = called.Value();
  return std::to_string(reply.status) + " " +
         (reply.outcome.Failed() ? reply.outcome.GetFailure().message : "-") + " " +
         reply.valueJson;
}

class PluginLifecycleTest : public Testing::BuiltPluginTest {};

// A host may run a job it queued before Stop, and deliver an event it was already
// delivering: both reach a module that is gone, and do nothing.
TEST_F(PluginLifecycleTest, JobsAndEventsTheHostDeliversAfterStopDoNothing) {
  DevelopmentHost host(0x484F5354, 0);
  ASSERT_TRUE(Load(host));
  InterposedHost interposed(host);
  interposed.HoldJobs();
  ASSERT_TRUE(interposed.Start());
  Push(host, "late");
  const std::vector<HeldJob> jobs = interposed.TakeHeldJobs();
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].label,
            std::string("Event: OnQrmsEvent (") + HostMessages::kSimpleDialogMessageClass + ")");
  const std::vector<Subscription> subscriptions = host.Subscriptions();
  ASSERT_FALSE(subscriptions.empty());

  interposed.Stop();
  jobs[0].callback(jobs[0].context);
  jobs[0].callback(jobs[0].context);
  for (const Subscription& subscription : subscriptions) {
    Abi::HostEventRecord record;
    std::memset(static_cast<void*>(&record), 0, sizeof(record));
    record.name = subscription.eventName.c_str();
    record.context = subscription.context;
    subscription.callback(&record);
  }
  EXPECT_EQ(interposed.CallsSinceStop(), 0u);
}

// Before Start the module answers from its empty stores and calls no host function;
// after Stop an endpoint the host kept answers the router's failure for an unknown
// registration.
TEST_F(PluginLifecycleTest, EndpointCallsBeforeStartAndAfterStop) {
  DevelopmentHost host(0x484F5354, 0);
  ASSERT_TRUE(Load(host));
  InterposedHost interposed(host);
  const auto get = interposed.FindEndpoint(Abi::kHttpMethodGet, kNotificationPath);
  const auto acknowledge = interposed.FindEndpoint(Abi::kHttpMethodDelete, kAcknowledgeTemplate);
  const std::string acknowledgePath = std::string(kNotificationPath) + "/1/acknowledge";
  ASSERT_NE(get.entry, nullptr);
  ASSERT_NE(acknowledge.entry, nullptr);

  EXPECT_EQ(InterposedHost::CallEndpoint(get, Abi::kHttpMethodGet, kNotificationPath),
            std::string("0 - ") + kEmptyHead);
  EXPECT_EQ(InterposedHost::CallEndpoint(acknowledge, Abi::kHttpMethodDelete, acknowledgePath),
            "404 Not found null");
  EXPECT_EQ(interposed.CallsSinceStop(), 0u);

  ASSERT_TRUE(interposed.Start());
  interposed.Stop();
  for (const auto& [endpoint, method, path] :
       {std::tuple{get, Abi::kHttpMethodGet, std::string(kNotificationPath)},
        std::tuple{acknowledge, Abi::kHttpMethodDelete, acknowledgePath}}) {
    EXPECT_EQ(InterposedHost::CallEndpoint(endpoint, method, path), "404 Invalid function null");
  }
  // Stop twice: refused, and nothing of the module is touched.
  interposed.Stop();
  EXPECT_FALSE(interposed.Start());
  EXPECT_EQ(interposed.CallsSinceStop(), 0u);
}

// Once Stop has begun, the module is closed to every call the host makes from inside
// it (here from the Unsubscribe that Stop makes): endpoints, Start and a second Stop.
TEST_F(PluginLifecycleTest, CallsFromInsideStopAreRefused) {
  DevelopmentHost host(0x484F5354, 0);
  ASSERT_TRUE(Load(host));
  InterposedHost interposed(host);
  const auto get = interposed.FindEndpoint(Abi::kHttpMethodGet, kNotificationPath);
  ASSERT_TRUE(interposed.Start());
  std::vector<std::string> seen;
  interposed.OnUnsubscribe([&](const char*) {
    if (!seen.empty()) return;
    seen.push_back(InterposedHost::CallEndpoint(get, Abi::kHttpMethodGet, kNotificationPath));
    seen.push_back(interposed.Start() ? "started" : "not started");
    interposed.Stop();
    seen.push_back(InterposedHost::CallEndpoint(get, Abi::kHttpMethodGet, kNotificationPath));
  });
  interposed.Stop();
  EXPECT_THAT(seen,
              ElementsAre("404 Invalid function null", "not started", "404 Invalid function null"));
  EXPECT_EQ(interposed.CallsSinceStop(), 0u);
}

// The host answers the login-packet read of Start by calling endpoints and delivering a
// change of the packet; or by stopping the module, which Start then reports.
TEST_F(PluginLifecycleTest, WhatTheHostDoesInsideTheLoginReadOfStart) {
  DevelopmentHost host(0x484F5354, 0);
  ASSERT_TRUE(Load(host));
  ASSERT_TRUE(Succeeded(host.SetLoginDataPacket(Packet(1))));
  InterposedHost interposed(host);
  std::vector<std::string> replies;
  interposed.OnCall([&](Abi::HttpResponseRecord&, const Abi::HttpRequestRecord& request) {
    if (std::strcmp(request.path, HostMessages::kLoginDataPacketPath) == 0) {
      replies.push_back(Describe(Get(host)));
      replies.push_back(Describe(Acknowledge(host, 1)));
      EXPECT_TRUE(Succeeded(host.SetLoginDataPacket(Packet(2))));
    }
    return false;
  });
  ASSERT_TRUE(interposed.Start());
  EXPECT_THAT(replies, ElementsAre(std::string("0 - ") + kEmptyHead, "404 Not found null"));
  // The change was handled inside the read (ids 1 and 2), then the read's answer, the
  // changed packet, replaced it (ids 3 and 4); a push follows in its job.
  Push(host, "after-start");
  EXPECT_EQ(host.RunPendingJobs(), 1u);
  EXPECT_EQ(Describe(Acknowledge(host, 1)), "404 Not found null");
  EXPECT_EQ(Describe(Acknowledge(host, 3)), "0 - null");
  EXPECT_EQ(Describe(Acknowledge(host, 4)), "0 - null");
  EXPECT_EQ(Describe(Get(host)),
            R"(0 - {"body":"","id":5,"msgId":"after-start","status":1,"title":""})");
  interposed.Stop();

  DevelopmentHost stoppingHost(0x484F5354, 0);
  ASSERT_TRUE(Load(stoppingHost));
  InterposedHost stopping(stoppingHost);
  stopping.OnCall([&](Abi::HttpResponseRecord&, const Abi::HttpRequestRecord&) {
    stopping.Stop();
    return false;
  });
  EXPECT_FALSE(stopping.Start());
  EXPECT_EQ(stopping.CallsSinceStop(), 0u);
}

// The user interface answers each announcement of the store by acknowledging its head,
// on the thread that delivers it, inside PublishEvent: every acknowledgement completes,
// and the last announcement is the empty store.
TEST_F(PluginLifecycleTest, AcknowledgingFromInsideTheAnnouncementCompletes) {
  DevelopmentHost host(0x484F5354, 0);
  std::vector<int> announced;
  std::vector<std::string> replies;
  const EventBus::ListenerId listener = host.Bus().AddListener([&](const PublishedEvent& event) {
    if (event.origin != "plugin" || event.name != kNotificationEvent) return;
    const rapidjson::Document payload = Json(event.payloadJson);
    const int id = payload["data"]["id"].GetInt();
    announced.push_back(id);
    if (id != 0) replies.push_back(Describe(Acknowledge(host, id)));
  });
  const rapidjson::Document packet = Packet(3);
  ASSERT_TRUE(LoadAndStart(host, &packet, CoreVersion{18, 0, 0}));
  // And the announcement of a push, made in its job.
  Push(host, "pushed");
  EXPECT_EQ(host.RunPendingJobs(), 1u);
  EXPECT_THAT(replies, ElementsAre("0 - null", "0 - null", "0 - null", "0 - null"));
  ASSERT_FALSE(announced.empty());
  EXPECT_EQ(announced.back(), 0);
  EXPECT_EQ(Describe(Get(host)), std::string("0 - ") + kEmptyHead);
  EXPECT_EQ(host.Invocations().size(), 4u);
  host.Stop();
  host.Bus().RemoveListener(listener);
}

// What a stream, a release and a value in an answer to Call can be.
struct Answer {
  std::int32_t status = 200;
  bool failed = false;
  const char* errorText = nullptr;
  const char* value = nullptr;  // a borrowed string value
  bool failingStream = false;
  bool release = true;
};

// Counts the releases of the answers filled by Fill.
struct Releases {
  static inline int responses = 0;
  static inline int streams = 0;
};

void Fill(Abi::HttpResponseRecord& response, const Answer& answer) {
  std::memset(static_cast<void*>(&response), 0, sizeof(response));
  response.status = answer.status;
  response.failed = answer.failed ? 1 : 0;
  response.errorText = answer.errorText;
  if (answer.value != nullptr) {
    response.value.type = Abi::kHostValueBorrowedString;
    response.value.data = reinterpret_cast<Abi::HostWord>(answer.value);
  }
  if (answer.failingStream) {
    static char stream;
    response.stream = &stream;
    // The first chunk arrives, the second read fails.
    response.streamRead = [](void*, char* buffer, std::uint32_t* length, bool* more) {
      static int reads = 0;
      if (reads++ % 2 == 1) return false;
      std::memset(buffer, '[', *length);
      *more = true;
      return true;
    };
    response.streamRelease = [](void*) { ++Releases::streams; };
  }
  if (answer.release) {
    response.release = [](Abi::HttpResponseRecord*) { ++Releases::responses; };
  }
}

TEST_F(PluginLifecycleTest, OddAnswersToCallAreReleasedAndFailCleanly) {
  const struct {
    const char* name;
    Answer answer;
    const char* acknowledgement;
    int streamReleases;
  } rows[] = {
      {"null value", Answer{}, "0 - null", 0},
      {"null release", Answer{200, false, nullptr, "text", false, false}, "0 - null", 0},
      {"failed without text", Answer{502, true},
       "500 Error response for POST /hxa-login/v1/session/invoke:  null", 0},
      {"stream that fails midway", Answer{200, false, nullptr, nullptr, true}, "0 - null", 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Releases::responses = 0;
    Releases::streams = 0;
    DevelopmentHost host(0x484F5354, 0);
    ASSERT_TRUE(Load(host));
    ASSERT_TRUE(Succeeded(host.SetLoginDataPacket(Packet(1))));
    InterposedHost interposed(host);
    // The login read gets the odd answer: nothing is delivered, the stores stay empty.
    interposed.OnCall([&](Abi::HttpResponseRecord& response, const Abi::HttpRequestRecord&) {
      Fill(response, row.answer);
      return true;
    });
    ASSERT_TRUE(interposed.Start());
    EXPECT_EQ(Describe(Get(host)), std::string("0 - ") + kEmptyHead);
    // The packet's change arrives as an event; the session invoke of its acknowledgement
    // gets the odd answer too.
    ASSERT_TRUE(Succeeded(host.SetLoginDataPacket(Packet(1))));
    EXPECT_EQ(Describe(Acknowledge(host, 1)), row.acknowledgement);
    EXPECT_EQ(Releases::responses, row.answer.release ? 2 : 0);
    EXPECT_EQ(Releases::streams, row.streamReleases);
    interposed.Stop();
  }
}

// A second load makes a second module; each works on while the other stops, and its
// reports reach its own host also when the module whose log target both used stops.
TEST_F(PluginLifecycleTest, TwoModulesStartAndStopInEitherOrder) {
  for (const bool firstStopsFirst : {true, false}) {
    SCOPED_TRACE(firstStopsFirst ? "first stops first" : "second stops first");
    DevelopmentHost first(1, 0);
    DevelopmentHost second(2, 0);
    ASSERT_TRUE(Load(first));
    ASSERT_TRUE(Load(second));
    ASSERT_TRUE(first.Start());
    ASSERT_TRUE(second.Start());
    Push(first, "to-first");
    Push(second, "to-second");
    EXPECT_EQ(first.RunPendingJobs(), 1u);
    EXPECT_EQ(second.RunPendingJobs(), 1u);
    DevelopmentHost& stopped = firstStopsFirst ? first : second;
    DevelopmentHost& running = firstStopsFirst ? second : first;
    const std::string runningMsgId = firstStopsFirst ? "to-second" : "to-first";
    stopped.Stop();
    Push(running, "after-stop");
    EXPECT_EQ(running.RunPendingJobs(), 1u);
    EXPECT_EQ(Describe(Get(running)),
              R"(0 - {"body":"","id":1,"msgId":")" + runningMsgId + R"(","status":1,"title":""})");
    EXPECT_EQ(Describe(Acknowledge(running, 1)), "0 - null");
    EXPECT_EQ(Describe(Get(running)),
              R"(0 - {"body":"","id":2,"msgId":"after-stop","status":1,"title":""})");
    Abi::HostValue reply{};
    ASSERT_TRUE(
        Succeeded(HostValueFromJson(Json(R"({"serviceName": "svc", "methodName": "m"})"), reply)));
    EXPECT_EQ(running.SendEvent("OnServiceProxyAsyncEvent", reply), 1u);
    FreeHostValue(reply);
    EXPECT_THAT(running.LogLines(),
                Contains(LogLine{2,
                                 "Could not find registered handler for async service proxy "
                                 "event svc.m"}));
    running.Stop();
  }
}

}  // namespace
}  // namespace Kavren::Host
