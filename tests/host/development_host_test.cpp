// The development host's REST resources, events, jobs and endpoint calls, driven by
// an in-process fake plugin through the real host functions.
#include "host/core/development_host.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_plugin.h"
#include "host/core/document.h"
#include "host/core/messages.h"
#include "support/host_outcome.h"

namespace Kavren::Host {
namespace {

using Testing::CallHost;
using ::testing::ElementsAre;
using Testing::Fake;

constexpr char kQrmsEvent[] =
    "OnQrmsEvent_com_kavrengames_platform_messaging_persistence_SimpleDialogMessage";

rapidjson::Document Json(const std::string& text) {
  rapidjson::Document document;
  EXPECT_TRUE(Succeeded(ParseJsonText(text, document)));
  return document;
}

class DevelopmentHostTest : public ::testing::Test {
 protected:
  explicit DevelopmentHostTest(unsigned workers = 2) : host_(0x1234, workers) {}
  void SetUp() override {
    Fake().Reset();
    ASSERT_TRUE(host_.Load(Testing::FakeLoad, CoreVersion{}));
    ASSERT_TRUE(host_.Start());
  }
  void TearDown() override {
    EXPECT_TRUE(host_.WaitForJobs());
    host_.Stop();
  }

  void SetPacket(const std::string& json) {
    ASSERT_TRUE(Succeeded(host_.SetLoginDataPacket(Json(json))));
  }

  DevelopmentHost host_;
};

TEST_F(DevelopmentHostTest, ServesTheLoginDataPacketAndReleasesWhatItFilled) {
  const Testing::HostReply none = CallHost(Abi::kHttpMethodGet, "/hxa-login/v1/login-data-packet");
  EXPECT_EQ(none.status, 404);
  EXPECT_TRUE(none.failed);
  EXPECT_EQ(none.errorText, "No login data packet has been set");
  EXPECT_TRUE(none.zeroedByRelease);

  SetPacket(R"({"allVelkinData":{"velkin":{"acctId":18446744073709551615}},"simpleMessages":[]})");
  const Testing::HostReply packet =
      CallHost(Abi::kHttpMethodGet, "/hxa-login/v1/login-data-packet?fresh=1");
  EXPECT_EQ(packet.status, 200);
  EXPECT_FALSE(packet.failed);
  EXPECT_EQ(packet.errorText, "(null)");
  EXPECT_EQ(packet.valueJson,
            R"({"allVelkinData":{"velkin":{"acctId":18446744073709551615}},"simpleMessages":[]})");
  EXPECT_TRUE(packet.zeroedByRelease);

  host_.ClearLoginDataPacket();
  EXPECT_EQ(CallHost(Abi::kHttpMethodGet, "/hxa-login/v1/login-data-packet").status, 404);
}

TEST_F(DevelopmentHostTest, OtherResourcesAreNotFound) {
  struct Case {
    std::int32_t method;
    const char* path;
    const char* errorText;
  };
  const Case cases[] = {
      {Abi::kHttpMethodPost, "/hxa-login/v1/login-data-packet",
       "No such resource: POST /hxa-login/v1/login-data-packet"},
      {Abi::kHttpMethodGet, "/hxa-login/v1/session/invoke",
       "No such resource: GET /hxa-login/v1/session/invoke"},
      {Abi::kHttpMethodGet, "/elsewhere?x=1", "No such resource: GET /elsewhere"},
      {Abi::kHttpMethodCustom, "/x", "No such resource:  /x"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.path);
    const Testing::HostReply reply = CallHost(row.method, row.path);
    EXPECT_EQ(reply.status, 404);
    EXPECT_TRUE(reply.failed);
    EXPECT_EQ(reply.errorText, row.errorText);
    EXPECT_EQ(reply.valueJson, "null");
  }
}

TEST_F(DevelopmentHostTest, SessionInvokeIsRecordedAndAnsweredOrFailedOnce) {
  const std::vector<std::string> ack = {
      R"("clientFacadeService")", R"("callPersistenceMessaging")",
      R"([{"accountId":7,"msgId":"m1","command":"ack","__class":"X"}])"};
  const Testing::HostReply first =
      CallHost(Abi::kHttpMethodPost, "/hxa-login/v1/session/invoke", ack);
  EXPECT_EQ(first.status, 200);
  EXPECT_FALSE(first.failed);
  EXPECT_EQ(first.valueJson, "null");

  host_.FailNextInvoke(503, "persistence is down");
  const Testing::HostReply failed =
      CallHost(Abi::kHttpMethodPost, "/hxa-login/v1/session/invoke", ack);
  EXPECT_EQ(failed.status, 503);
  EXPECT_TRUE(failed.failed);
  EXPECT_EQ(failed.errorText, "persistence is down");
  EXPECT_TRUE(failed.zeroedByRelease);
  EXPECT_EQ(CallHost(Abi::kHttpMethodPost, "/hxa-login/v1/session/invoke", ack).status, 200);

  const auto invocations = host_.Invocations();
  ASSERT_EQ(invocations.size(), 3u);
  EXPECT_EQ(invocations[1].service, "clientFacadeService");
  EXPECT_EQ(invocations[1].method, "callPersistenceMessaging");
  EXPECT_EQ(invocations[1].argumentsJson,
            R"([{"accountId":7,"msgId":"m1","command":"ack","__class":"X"}])");
  EXPECT_EQ(invocations[1].status, 503);
  EXPECT_EQ(invocations[1].errorText, "persistence is down");
  EXPECT_EQ(invocations[2].status, 200);
  EXPECT_EQ(invocations[2].errorText, "");
}

TEST_F(DevelopmentHostTest, MalformedSessionInvokeIsRefusedWithoutRecording) {
  const std::vector<std::vector<std::string>> malformed = {
      {},
      {R"("service")", R"("method")"},
      {R"("service")", R"("method")", R"({"not":"a list"})"},
      {"1", R"("method")", "[]"},
      {R"("service")", R"("method")", "[]", "[]"},
  };
  for (const auto& arguments : malformed) {
    const Testing::HostReply reply =
        CallHost(Abi::kHttpMethodPost, "/hxa-login/v1/session/invoke", arguments);
    EXPECT_EQ(reply.status, 400);
    EXPECT_EQ(reply.errorText,
              "Session invoke expects three positional arguments: service name (text), method "
              "name (text) and argument list (collection)");
  }
  EXPECT_TRUE(host_.Invocations().empty());
}

TEST_F(DevelopmentHostTest, PacketChangesReachTheSubscriberAsResourceEvents) {
  EXPECT_EQ(host_.SubscriptionCount(HostMessages::kLoginDataPacketEvent), 1u);
  SetPacket(R"({"simpleMessages":[]})");
  SetPacket(R"({"simpleMessages":[{"msgId":"a"}]})");
  host_.ClearLoginDataPacket();
  EXPECT_THAT(
      Fake().Copy(Fake().events),
      ElementsAre(
          "OnJsonApiEvent_hxa-login_v1_login-data-packet|0|{\"uri\":\"/hxa-login/v1/"
          "login-data-packet\",\"eventType\":\"Create\",\"data\":{\"simpleMessages\":[]}}",
          "OnJsonApiEvent_hxa-login_v1_login-data-packet|0|{\"uri\":\"/hxa-login/v1/"
          "login-data-packet\",\"eventType\":\"Update\",\"data\":{\"simpleMessages\":[{\"msgId\":"
          "\"a\"}]}}",
          "OnJsonApiEvent_hxa-login_v1_login-data-packet|0|{\"uri\":\"/hxa-login/v1/"
          "login-data-packet\",\"eventType\":\"Delete\",\"data\":null}"));
}

TEST_F(DevelopmentHostTest, ServerMessagesArriveAsQrmsEvents) {
  const MaybeType<Failure, std::size_t> pushed =
      host_.PushServerMessage(Json(R"({"msgId":"m9","params":["x"]})"),
                              HostMessages::kSimpleDialogMessageClass, "client-1", "topic");
  ASSERT_TRUE(Succeeded(pushed));
  EXPECT_EQ(pushed.Value(), 1u);
  const MaybeType<Failure, std::size_t> unheard =
      host_.PushServerMessage(Json("{}"), "com.example.Other");
  ASSERT_TRUE(Succeeded(unheard));
  EXPECT_EQ(unheard.Value(), 0u);
  EXPECT_THAT(Fake().Copy(Fake().events),
              ElementsAre(std::string(kQrmsEvent) +
                          "|0|{\"clientId\":\"client-1\",\"subtopic\":\"topic\",\"typeName\":"
                          "\"com.kavrengames.platform.messaging.persistence.SimpleDialogMessage\","
                          "\"body\":{\"msgId\":\"m9\",\"params\":[\"x\"]}}"));
  const auto events = host_.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].name, "OnQrmsEvent_com_example_Other");
  EXPECT_EQ(events[1].delivered, 0u);
}

TEST_F(DevelopmentHostTest, PublishedEventsAreRecordedAndDeliveredByName) {
  Testing::Publish("OnJsonApiEvent_hxa-player-messaging_v1_notification", R"({"uri":"/n"})");
  Testing::Publish(kQrmsEvent, R"({"typeName":"t"})", 1);
  const auto events = host_.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].origin, "plugin");
  EXPECT_EQ(events[0].name, "OnJsonApiEvent_hxa-player-messaging_v1_notification");
  EXPECT_EQ(events[0].payloadJson, R"({"uri":"/n"})");
  EXPECT_EQ(events[0].delivered, 0u);
  EXPECT_EQ(events[1].delivered, 1u);
  EXPECT_THAT(Fake().Copy(Fake().events),
              ElementsAre(std::string(kQrmsEvent) + "|1|{\"typeName\":\"t\"}"));

  Abi::HostFunctions* functions = host_.Functions();
  functions->Unsubscribe(functions, kQrmsEvent, host_.Cookie());
  Testing::Publish(kQrmsEvent, "{}");
  EXPECT_EQ(Fake().Copy(Fake().events).size(), 1u);
  EXPECT_EQ(host_.SubscriptionCount(kQrmsEvent), 0u);
  EXPECT_EQ(host_.CallCounts().publishEvent, 3u);
}

TEST_F(DevelopmentHostTest, EndpointsAreCalledThroughTheirDescriptors) {
  EXPECT_EQ(host_.Endpoints().size(), 2u);
  EXPECT_EQ(host_.Endpoints()[1].functionName, "GetFakeV1ItemsById");
  EXPECT_EQ(host_.Endpoints()[1].urlTemplate, Testing::kItemTemplate);

  EndpointCall get;
  get.path = "/fake/v1/items/42?verbose=1";
  get.arguments = {{"limit", "3"}, {"", R"({"a":[true]})"}};
  get.body = R"({"b":1})";
  const MaybeType<Failure, EndpointReply> called = host_.CallEndpoint(get);
  ASSERT_TRUE(Succeeded(called));
  const EndpointReply& reply = called.Value();
  EXPECT_EQ(reply.functionName, "GetFakeV1ItemsById");
  EXPECT_EQ(reply.status, 200);
  EXPECT_TRUE(Succeeded(reply.outcome));
  EXPECT_EQ(reply.valueJson, R"({"path":"/fake/v1/items/42?verbose=1","n":[1,-2,2.5]})");

  EndpointCall remove;
  remove.function = "DeleteFakeV1ItemsById";
  remove.path = "/fake/v1/items/7";
  const MaybeType<Failure, EndpointReply> removed = host_.CallEndpoint(remove);
  ASSERT_TRUE(Succeeded(removed));
  EXPECT_EQ(removed.Value().status, 404);
  EXPECT_TRUE(removed.Value().outcome.Failed());
  EXPECT_EQ(removed.Value().outcome.GetFailure().message, "Not found");

  EXPECT_THAT(Fake().Copy(Fake().requests),
              ElementsAre("2 /fake/v1/items/42?verbose=1 get 1 [limit=3,(null)={\"a\":[true]}] "
                          "application/json {\"b\":1}",
                          "1 /fake/v1/items/7 delete 2 [] (null) (none)"));
  EXPECT_EQ(Fake().releases, 2);
}

TEST_F(DevelopmentHostTest, StreamedBodiesAreReadToTheEndAndReleased) {
  EndpointCall call;
  call.path = "/fake/v1/items/stream";
  const MaybeType<Failure, EndpointReply> called = host_.CallEndpoint(call);
  ASSERT_TRUE(Succeeded(called));
  const EndpointReply& reply = called.Value();
  ASSERT_TRUE(reply.streamBody.has_value());
  EXPECT_EQ(*reply.streamBody, std::string(4096, 'a') + std::string(4096, 'b') + "cccccccccc");
  EXPECT_TRUE(Succeeded(reply.outcome));

  call.path = "/fake/v1/items/broken-stream";
  const MaybeType<Failure, EndpointReply> broken = host_.CallEndpoint(call);
  ASSERT_TRUE(Succeeded(broken));
  EXPECT_TRUE(broken.Value().outcome.Failed());
  EXPECT_EQ(broken.Value().outcome.GetFailure().message, "Stream read error");
  EXPECT_THAT(Fake().Copy(Fake().order), ElementsAre("stream released", "stream released"));
  EXPECT_EQ(Fake().releases, 2);
}

TEST_F(DevelopmentHostTest, UnmatchedEndpointsAreNotCalled) {
  struct Case {
    std::int32_t method;
    const char* path;
    const char* function;
    const char* errorText;
  };
  const Case cases[] = {
      {Abi::kHttpMethodGet, "/fake/v1/items", "", "No endpoint for GET /fake/v1/items"},
      {Abi::kHttpMethodGet, "/fake/v1/items//", "", "No endpoint for GET /fake/v1/items//"},
      {Abi::kHttpMethodPut, "/fake/v1/items/1", "", "No endpoint for PUT /fake/v1/items/1"},
      {Abi::kHttpMethodGet, "/fake/v1/items/1/x", "", "No endpoint for GET /fake/v1/items/1/x"},
      {Abi::kHttpMethodGet, "", "GetNothing", "No endpoint for GetNothing"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.errorText);
    EndpointCall call;
    call.method = row.method;
    call.path = row.path;
    call.function = row.function;
    const MaybeType<Failure, EndpointReply> reply = host_.CallEndpoint(call);
    EXPECT_TRUE(reply.Failed());
    EXPECT_EQ(reply.GetFailure().message, row.errorText);
    EXPECT_EQ(reply.GetFailure().code, 404);
  }
  EXPECT_TRUE(Fake().Copy(Fake().requests).empty());
}

// Without workers, jobs run only where the host is asked to run them.
class PumpOnlyHostTest : public DevelopmentHostTest {
 protected:
  PumpOnlyHostTest() : DevelopmentHostTest(0) {}
};

TEST_F(PumpOnlyHostTest, PumpRunsOneDueJobAtATime) {
  std::vector<std::string> ran;
  Testing::Schedule(
      "later", [&] { ran.push_back("later"); }, 3600);
  Testing::Schedule("first", [&] { ran.push_back("first"); });
  Testing::Schedule("second", [&] { ran.push_back("second"); });
  Abi::HostFunctions* functions = host_.Functions();
  functions->Pump(functions);
  EXPECT_THAT(ran, ElementsAre("first"));
  functions->Pump(functions);
  functions->Pump(functions);  // nothing due
  EXPECT_THAT(ran, ElementsAre("first", "second"));
  EXPECT_FALSE(host_.WaitForJobs(std::chrono::milliseconds(5)));
  EXPECT_EQ(host_.RunPendingJobs(), 1u);  // due or not
  EXPECT_THAT(ran, ElementsAre("first", "second", "later"));
  EXPECT_THAT(host_.JobLabels(), ElementsAre("later", "first", "second"));
  EXPECT_EQ(host_.CallCounts().pump, 3u);
}

}  // namespace
}  // namespace Kavren::Host
