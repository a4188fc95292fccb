// The player-messaging flow of the built plugin, driven end to end through the development host.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "host/core/development_host.h"
#include "host/core/host_value.h"
#include "host/core/plugin_library.h"
#include "support/built_plugin.h"
#include "support/host_outcome.h"

namespace Kavren::Host::PlayerMessagingE2e {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

constexpr char kNotificationUri[] = "/hxa-player-messaging/v1/notification";
constexpr char kCelebrationUri[] = "/hxa-player-messaging/v1/celebration/notification";
constexpr char kNotificationEvent[] = "OnJsonApiEvent_hxa-player-messaging_v1_notification";
constexpr char kCelebrationEvent[] = "OnJsonApiEvent_hxa-player-messaging_v1_celebration";
constexpr char kPacketEvent[] = "OnJsonApiEvent_hxa-login_v1_login-data-packet";
constexpr char kMessageClass[] =
    "com.kavrengames.platform.messaging.persistence.SimpleDialogMessage";
constexpr char kMessageEvent[] =
    "OnQrmsEvent_com_kavrengames_platform_messaging_persistence_SimpleDialogMessage";
constexpr char kEmptyNotification[] = R"({"id":0,"msgId":"","title":"","body":"","status":0})";

// One message of each kind the plugin meets: a player message whose parameter is a
// JSON object, a celebration with its five parameters, and a type it ignores.
constexpr char kMixedPacket[] = R"({
  "allVelkinData": {"velkin": {"acctId": 4242, "velId": 77}},
  "simpleMessages": [
    {"accountId": 4242, "msgId": "m-1", "type": "pss-player-message", "titleCode": "",
     "bodyCode": "", "params": ["{\"title\":\"Hello\",\"message\":\"Welcome back\"}"]},
    {"accountId": 4242, "msgId": "c-1", "type": "dynamic-celebration", "titleCode": "Congrats",
     "bodyCode": "You earned it", "params": ["seasonal", "Well done", "SKIN", "123", "5"]},
    {"accountId": 4242, "msgId": "x-1", "type": "unknown-kind", "params": ["{}"]}
  ]})";

// Three player messages: notifications 1, 2 and 3.
constexpr char kThreeMessagesPacket[] = R"({
  "allVelkinData": {"velkin": {"acctId": 9001, "velId": 1}},
  "simpleMessages": [
    {"accountId": 9001, "msgId": "a", "type": "pss-player-message",
     "params": ["{\"title\":\"T1\",\"message\":\"B1\"}"]},
    {"accountId": 9001, "msgId": "b", "type": "pss-player-message",
     "params": ["{\"title\":\"T2\",\"message\":\"B2\"}"]},
    {"accountId": 9001, "msgId": "c", "type": "pss-player-message",
     "params": ["{\"title\":\"T3\",\"message\":\"B3\"}"]}
  ]})";

std::string Notification(int id, const std::string& msgId, const std::string& title,
                         const std::string& body) {
  return R"({"id":)" + std::to_string(id) + R"(,"msgId":")" + msgId + R"(","title":")" + title +
         R"(","body":")" + body + R"(","status":1})";
}

std::string ResourceEvent(const std::string& uri, const std::string& data) {
  return R"({"uri":")" + uri + R"(","eventType":"Update","data":)" + data + "}";
}

std::uint64_t InUse(const Abi::PluginMemoryStats& stats) {
  return stats.allocatedBytes - stats.freedBytes;
}

// The event names and payloads the plugin published, in order.
struct Published {
  std::string name;
  std::string payloadJson;

  friend void PrintTo(const Published& event, std::ostream* out) {
    *out << event.name << " " << event.payloadJson;
  }
};

// Equal JSON values; members may come in any order (the host prints them sorted).
bool SameJson(const std::string& actual, const std::string& expected) {
  rapidjson::Document left;
  rapidjson::Document right;
  left.Parse(actual.c_str());
  right.Parse(expected.c_str());
  return !left.HasParseError() && !right.HasParseError() && left == right;
}

MATCHER_P(JsonIs, expected, "is the JSON value " + std::string(expected)) {
  return SameJson(arg, expected);
}

MATCHER_P2(IsEvent, name, payloadJson,
           "is " + std::string(name) + " with payload " + std::string(payloadJson)) {
  return arg.name == name && SameJson(arg.payloadJson, payloadJson);
}

// The library stays mapped for the whole test program (see plugin_e2e_test.cpp).
class PlayerMessagingE2eTest : public Testing::BuiltPluginTest {
 protected:
  static rapidjson::Document Parse(const char* json) {
    rapidjson::Document document;
    document.Parse(json);
    EXPECT_FALSE(document.HasParseError()) << json;
    return document;
  }

  // Serves `packetJson` as the login data packet, then loads and starts the plugin.
  static void LoadAndStart(DevelopmentHost& host, const char* packetJson) {
    const rapidjson::Document packet = Parse(packetJson);
    ASSERT_TRUE(BuiltPluginTest::LoadAndStart(host, &packet, CoreVersion{18, 0, 0}));
  }

  static std::vector<Published> PluginEvents(const DevelopmentHost& host, std::size_t from = 0) {
    std::vector<Published> result;
    const std::vector<PublishedEvent> events = host.Events();
    for (std::size_t i = from; i < events.size(); ++i) {
      if (events[i].origin == "plugin") result.push_back({events[i].name, events[i].payloadJson});
    }
    return result;
  }

  static std::string Get(DevelopmentHost& host, const char* uri) {
    EndpointCall call;
    call.method = Abi::kHttpMethodGet;
    call.path = uri;
    const MaybeType<Failure, EndpointReply> reply = host.CallEndpoint(call);
    EXPECT_TRUE(Succeeded(reply));
    if (reply.Failed()) return "";
    EXPECT_TRUE(Succeeded(reply.Value().outcome));
    return reply.Value().valueJson;
  }

  static EndpointReply Acknowledge(DevelopmentHost& host, const char* uri, int id) {
    EndpointCall call;
    call.method = Abi::kHttpMethodDelete;
    call.path = std::string(uri) + "/" + std::to_string(id) + "/acknowledge";
    MaybeType<Failure, EndpointReply> reply = host.CallEndpoint(call);
    EXPECT_TRUE(Succeeded(reply));
    return reply.Succeeded() ? std::move(reply).Value() : EndpointReply{};
  }

  // Pushes one server message and runs the job it scheduled; answers how many jobs ran.
  static std::size_t Push(DevelopmentHost& host, const char* bodyJson,
                          const std::string& typeName = kMessageClass) {
    const rapidjson::Document body = Parse(bodyJson);
    EXPECT_TRUE(Succeeded(host.PushServerMessage(body, typeName)));
    return host.RunPendingJobs();
  }
};

TEST_F(PlayerMessagingE2eTest, StartReadsThePacketSubscribesAndAnnouncesEachStore) {
  DevelopmentHost host(0x484F5354, 0);
  LoadAndStart(host, kMixedPacket);

  std::vector<std::string> subscribed;
  for (const Subscription& subscription : host.Subscriptions()) {
    subscribed.push_back(subscription.eventName);
  }
  EXPECT_THAT(subscribed,
              UnorderedElementsAre(kPacketEvent, kMessageEvent, "OnServiceProxyUuidEvent",
                                   "OnServiceProxyMethodEvent", "OnServiceProxyAsyncEvent"));

  const std::string notification = Notification(1, "m-1", "Hello", "Welcome back");
  const std::string celebration =
      R"({"id":1,"msgId":"c-1","celebrationTitle":"Congrats","celebrationBody":"You earned it",)"
      R"("celebrationMessage":"Well done","inventoryType":"SKIN","itemId":"123",)"
      R"("itemQuantity":"5","celebrationType":"seasonal","status":1})";
  const std::string notificationEvent = ResourceEvent(kNotificationUri, notification);
  const std::string celebrationEvent = ResourceEvent(kCelebrationUri, celebration);
  // Each store is announced once, under its own name and then the generic one; the
  // unknown type adds nothing.
  EXPECT_THAT(PluginEvents(host), ElementsAre(IsEvent(kNotificationEvent, notificationEvent),
                                              IsEvent("OnJsonApiEvent", notificationEvent),
                                              IsEvent(kCelebrationEvent, celebrationEvent),
                                              IsEvent("OnJsonApiEvent", celebrationEvent)));

  EXPECT_THAT(Get(host, kNotificationUri), JsonIs(notification));
  EXPECT_THAT(Get(host, kCelebrationUri), JsonIs(celebration));
  EXPECT_THAT(host.Invocations(), IsEmpty());

  // The celebration store acknowledges in the same way, with the packet's account.
  const std::size_t seen = host.Events().size();
  const EndpointReply reply = Acknowledge(host, kCelebrationUri, 1);
  EXPECT_TRUE(Succeeded(reply.outcome));
  const std::string empty =
      R"({"id":0,"msgId":"","celebrationTitle":"","celebrationBody":"","celebrationMessage":"",)"
      R"("inventoryType":"","itemId":"","itemQuantity":"","celebrationType":"","status":0})";
  EXPECT_THAT(PluginEvents(host, seen),
              ElementsAre(IsEvent(kCelebrationEvent, ResourceEvent(kCelebrationUri, empty)),
                          IsEvent("OnJsonApiEvent", ResourceEvent(kCelebrationUri, empty))));
  EXPECT_THAT(Get(host, kCelebrationUri), JsonIs(empty));
  const std::vector<Invocation> invocations = host.Invocations();
  ASSERT_EQ(invocations.size(), 1u);
  EXPECT_THAT(
      invocations[0].argumentsJson,
      JsonIs(R"([{"accountId":4242,"msgId":"c-1","command":"ack","__class":)"
             R"("com.kavrengames.platform.messaging.persistence.SimpleDialogMessageResponse"}])"));
  host.Stop();
}

TEST_F(PlayerMessagingE2eTest, AcknowledgingRemovesAndAnnouncesTheHead) {
  DevelopmentHost host(0x484F5354, 0);
  LoadAndStart(host, kThreeMessagesPacket);
  const std::string first = Notification(1, "a", "T1", "B1");
  const std::string third = Notification(3, "c", "T3", "B3");
  const std::string headEvent = ResourceEvent(kNotificationUri, first);

  // The middle one: the head stays and is announced again.
  std::size_t seen = host.Events().size();
  EndpointReply reply = Acknowledge(host, kNotificationUri, 2);
  EXPECT_TRUE(Succeeded(reply.outcome));
  EXPECT_EQ(reply.outcome.GetFailure().message, "");
  EXPECT_THAT(PluginEvents(host, seen), ElementsAre(IsEvent(kNotificationEvent, headEvent),
                                                    IsEvent("OnJsonApiEvent", headEvent)));
  EXPECT_THAT(Get(host, kNotificationUri), JsonIs(first));

  // The same id again: not found, and the unchanged head is still announced.
  seen = host.Events().size();
  reply = Acknowledge(host, kNotificationUri, 2);
  EXPECT_TRUE(reply.outcome.Failed());
  EXPECT_EQ(reply.status, 404);
  EXPECT_EQ(reply.outcome.GetFailure().message, "Not found");
  EXPECT_THAT(PluginEvents(host, seen), ElementsAre(IsEvent(kNotificationEvent, headEvent),
                                                    IsEvent("OnJsonApiEvent", headEvent)));
  ASSERT_EQ(host.Invocations().size(), 1u);

  // A failing server call: 500 with the call's message; the notification stays removed
  // and the next one becomes the head.
  host.FailNextInvoke(503, "maintenance window");
  seen = host.Events().size();
  reply = Acknowledge(host, kNotificationUri, 1);
  EXPECT_TRUE(reply.outcome.Failed());
  EXPECT_EQ(reply.status, 500);
  EXPECT_EQ(reply.outcome.GetFailure().message,
            "Error response for POST /hxa-login/v1/session/invoke: maintenance window");
  const std::string thirdEvent = ResourceEvent(kNotificationUri, third);
  EXPECT_THAT(PluginEvents(host, seen), ElementsAre(IsEvent(kNotificationEvent, thirdEvent),
                                                    IsEvent("OnJsonApiEvent", thirdEvent)));
  EXPECT_THAT(Get(host, kNotificationUri), JsonIs(third));

  const std::vector<Invocation> invocations = host.Invocations();
  ASSERT_EQ(invocations.size(), 2u);
  EXPECT_EQ(invocations[1].status, 503);
  EXPECT_EQ(invocations[1].errorText, "maintenance window");

  // Emptied: the read answers the empty record.
  reply = Acknowledge(host, kNotificationUri, 3);
  EXPECT_TRUE(Succeeded(reply.outcome));
  EXPECT_THAT(Get(host, kNotificationUri), JsonIs(kEmptyNotification));
  host.Stop();
}

TEST_F(PlayerMessagingE2eTest, AnIdThatIsNotAnInt32IsRefusedBeforeTheHandlerRuns) {
  DevelopmentHost host(0x484F5354, 0);
  LoadAndStart(host, kThreeMessagesPacket);
  const std::size_t seen = host.Events().size();
  const std::pair<const char*, const char*> cases[] = {
      {"abc", "Value abc for 'id' of type int32 is in an incorrect format"},
      {"", "Expected value for argument 'id'."},
  };
  for (const auto& [id, message] : cases) {
    SCOPED_TRACE(id);
    EndpointCall call;
    call.method = Abi::kHttpMethodDelete;
    // Found by function name, so the path reaches the plugin's router as it is.
    call.function = "DeleteHxaPlayerMessagingV1NotificationByIdAcknowledge";
    call.path = std::string(kNotificationUri) + "/" + id + "/acknowledge";
    const MaybeType<Failure, EndpointReply> called = host.CallEndpoint(call);
    ASSERT_TRUE(Succeeded(called));
    const EndpointReply& reply = called.Value();
    EXPECT_TRUE(reply.outcome.Failed());
    EXPECT_EQ(reply.outcome.GetFailure().message, message);
    EXPECT_EQ(reply.status, 0);
  }
  // The handler never ran: nothing was announced and the store is whole.
  EXPECT_THAT(PluginEvents(host, seen), ElementsAre());
  EXPECT_EQ(host.Invocations().size(), 0u);
  EXPECT_THAT(Get(host, kNotificationUri), JsonIs(Notification(1, "a", "T1", "B1")));
  host.Stop();
}

TEST_F(PlayerMessagingE2eTest, AcknowledgementSendsOneResponseRecordToTheSession) {
  DevelopmentHost host(0x484F5354, 0);
  LoadAndStart(host, kThreeMessagesPacket);
  ASSERT_TRUE(Succeeded(Acknowledge(host, kNotificationUri, 2).outcome));

  const std::vector<Invocation> invocations = host.Invocations();
  ASSERT_EQ(invocations.size(), 1u);
  EXPECT_EQ(invocations[0].service, "clientFacadeService");
  EXPECT_EQ(invocations[0].method, "callPersistenceMessaging");
  EXPECT_THAT(
      invocations[0].argumentsJson,
      JsonIs(R"([{"accountId":9001,"msgId":"b","command":"ack","__class":)"
             R"("com.kavrengames.platform.messaging.persistence.SimpleDialogMessageResponse"}])"));
  EXPECT_EQ(invocations[0].status, 200);
  host.Stop();
}

TEST_F(PlayerMessagingE2eTest, ServerPushesBecomeJobsAndOnlyValidMessagesAddNotifications) {
  DevelopmentHost host(0x484F5354, 0);
  LoadAndStart(host, kThreeMessagesPacket);
  const std::vector<std::string> labelsAtStart = host.JobLabels();

  // A push of the known class: exactly one job, which adds notification 4 behind the head.
  std::size_t seen = host.Events().size();
  EXPECT_EQ(Push(host, R"({"accountId": 1, "msgId": "p-1", "type": "pss-player-message",
                           "params": ["{\"title\":\"Pushed\",\"message\":\"Now\"}"]})"),
            1u);
  std::vector<std::string> labels = host.JobLabels();
  labels.erase(labels.begin(), labels.begin() + static_cast<std::ptrdiff_t>(labelsAtStart.size()));
  EXPECT_THAT(labels, ElementsAre("Event: OnQrmsEvent (" + std::string(kMessageClass) + ")"));
  const std::string headEvent = ResourceEvent(kNotificationUri, Notification(1, "a", "T1", "B1"));
  EXPECT_THAT(PluginEvents(host, seen), ElementsAre(IsEvent(kNotificationEvent, headEvent),
                                                    IsEvent("OnJsonApiEvent", headEvent)));

  // The pushed notification is acknowledged with the packet's account, not the message's.
  for (int id : {1, 2, 3}) ASSERT_TRUE(Succeeded(Acknowledge(host, kNotificationUri, id).outcome));
  EXPECT_THAT(Get(host, kNotificationUri), JsonIs(Notification(4, "p-1", "Pushed", "Now")));
  ASSERT_TRUE(Succeeded(Acknowledge(host, kNotificationUri, 4).outcome));
  ASSERT_EQ(host.Invocations().size(), 4u);
  EXPECT_THAT(
      host.Invocations()[3].argumentsJson,
      JsonIs(R"([{"accountId":9001,"msgId":"p-1","command":"ack","__class":)"
             R"("com.kavrengames.platform.messaging.persistence.SimpleDialogMessageResponse"}])"));

  // An unknown typeName on the subscribed event schedules nothing, and a class the
  // plugin never subscribed to reaches no subscription at all.
  const std::size_t labelCount = host.JobLabels().size();
  seen = host.Events().size();
  const rapidjson::Document unknown =
      Parse(R"({"clientId": "dev-client", "subtopic": "", "typeName": "com.example.Unknown",
                "body": {"msgId": "u-1", "type": "pss-player-message", "params": ["{}"]}})");
  Abi::HostValue payload{};
  ASSERT_TRUE(Succeeded(HostValueFromJson(unknown, payload)));
  EXPECT_EQ(host.SendEvent(kMessageEvent, payload), 1u);
  FreeHostValue(payload);
  EXPECT_EQ(host.RunPendingJobs(), 0u);
  EXPECT_EQ(Push(host, R"({"msgId": "u-2", "type": "pss-player-message", "params": ["{}"]})",
                 "com.kavrengames.platform.messaging.Other"),
            0u);
  EXPECT_EQ(host.JobLabels().size(), labelCount);

  // A message whose msgId is a number does not convert: nothing is added or announced.
  Push(host, R"({"msgId": 5, "type": "pss-player-message", "params": ["{}"]})");
  // A celebration with four parameters is logged and skipped.
  const std::size_t logged = host.LogLines().size();
  EXPECT_EQ(Push(host, R"({"msgId": "d-1", "type": "dynamic-celebration",
                           "params": ["a", "b", "c", "d"]})"),
            1u);
  std::vector<LogLine> lines = host.LogLines();
  lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(logged));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, 2);
  EXPECT_EQ(lines[0].message,
            "hxa-player-messaging: Dynamic Celebration parameter error.  Check platform for "
            "validation log");
  EXPECT_THAT(PluginEvents(host, seen), IsEmpty());
  EXPECT_THAT(Get(host, kNotificationUri), JsonIs(kEmptyNotification));
  host.Stop();
}

TEST_F(PlayerMessagingE2eTest, RedeliveredPacketRebuildsTheStoresWithContinuingIds) {
  DevelopmentHost host(0x484F5354, 0);
  LoadAndStart(host, kMixedPacket);
  ASSERT_EQ(Push(host, R"({"msgId": "p-1", "type": "pss-player-message", "params": ["{}"]})"), 1u);

  const rapidjson::Document packet = Parse(kMixedPacket);
  const std::size_t seen = host.Events().size();
  ASSERT_TRUE(Succeeded(host.SetLoginDataPacket(packet)));
  host.RunPendingJobs();

  // The pushed notification 2 is gone; the packet's messages come back as 3 and 2.
  const std::string notification = Notification(3, "m-1", "Hello", "Welcome back");
  EXPECT_THAT(Get(host, kNotificationUri), JsonIs(notification));
  const std::string celebration = Get(host, kCelebrationUri);
  rapidjson::Document parsed = Parse(celebration.c_str());
  EXPECT_EQ(parsed["id"].GetInt(), 2);
  EXPECT_STREQ(parsed["msgId"].GetString(), "c-1");
  const std::vector<Published> events = PluginEvents(host, seen);
  ASSERT_EQ(events.size(), 4u);
  EXPECT_THAT(events[0],
              IsEvent(kNotificationEvent, ResourceEvent(kNotificationUri, notification)));
  EXPECT_THAT(events[2], IsEvent(kCelebrationEvent, ResourceEvent(kCelebrationUri, celebration)));

  // A packet delivered as deleted empties both stores.
  host.ClearLoginDataPacket();
  host.RunPendingJobs();
  EXPECT_THAT(Get(host, kNotificationUri), JsonIs(kEmptyNotification));
  EXPECT_THAT(Get(host, kCelebrationUri),
              JsonIs(R"({"id":0,"msgId":"","celebrationTitle":"","celebrationBody":"",)"
                     R"("celebrationMessage":"","inventoryType":"","itemId":"","itemQuantity":"",)"
                     R"("celebrationType":"","status":0})"));

  // The next packet message continues the sequence.
  const rapidjson::Document again = Parse(kMixedPacket);
  ASSERT_TRUE(Succeeded(host.SetLoginDataPacket(again)));
  EXPECT_THAT(Get(host, kNotificationUri), JsonIs(Notification(4, "m-1", "Hello", "Welcome back")));
  host.Stop();
}

TEST_F(PlayerMessagingE2eTest, StopUnsubscribesEverything) {
  DevelopmentHost host(0x484F5354, 0);
  LoadAndStart(host, kMixedPacket);
  EXPECT_FALSE(host.Subscriptions().empty());
  host.Stop();
  EXPECT_THAT(host.Subscriptions(), IsEmpty());
  for (const char* name : {kPacketEvent, kMessageEvent, "OnServiceProxyUuidEvent",
                           "OnServiceProxyMethodEvent", "OnServiceProxyAsyncEvent"}) {
    EXPECT_EQ(host.SubscriptionCount(name), 0u) << name;
  }
  EXPECT_EQ(host.CallCounts().unsubscribe, host.CallCounts().subscribe);
}

// Loads, starts, reads, acknowledges and pushes, then stops; answers the bytes in use after Stop.
std::uint64_t RunTrafficCycle(const PluginLibrary& library) {
  DevelopmentHost host(0x484F5354, 0);
  rapidjson::Document packet;
  packet.Parse(kMixedPacket);
  EXPECT_TRUE(Succeeded(host.SetLoginDataPacket(packet)));
  EXPECT_TRUE(host.Load(library, CoreVersion{18, 0, 0}));
  EXPECT_TRUE(host.Start());
  EndpointCall read;
  read.path = kNotificationUri;
  const MaybeType<Failure, EndpointReply> head = host.CallEndpoint(read);
  EXPECT_TRUE(head.Succeeded() && head.Value().outcome.Succeeded());
  EndpointCall ack;
  ack.method = Abi::kHttpMethodDelete;
  ack.path = std::string(kNotificationUri) + "/1/acknowledge";
  const MaybeType<Failure, EndpointReply> acknowledged = host.CallEndpoint(ack);
  EXPECT_TRUE(acknowledged.Succeeded() && acknowledged.Value().outcome.Succeeded());
  rapidjson::Document body;
  body.Parse(R"({"msgId": "p-1", "type": "dynamic-celebration", "params": ["a","b","c","d","e"]})");
  EXPECT_TRUE(Succeeded(host.PushServerMessage(body, kMessageClass)));
  host.RunPendingJobs();
  EXPECT_TRUE(Succeeded(host.SetLoginDataPacket(packet)));
  host.Stop();
  return InUse(host.MemoryStats());
}

TEST_F(PlayerMessagingE2eTest, SecondTrafficCycleEndsWhereTheFirstEnded) {
  const std::uint64_t first = RunTrafficCycle(Library());
  const std::uint64_t second = RunTrafficCycle(Library());
  EXPECT_EQ(second, first);
}

}  // namespace
}  // namespace Kavren::Host::PlayerMessagingE2e
