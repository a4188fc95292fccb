// The built plugin behind the development server, over real HTTP on 127.0.0.1: its
// four endpoints with their failure shapes, the host controls and the event stream.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <memory>

#include "host/core/document.h"
#include "host/core/plugin_library.h"
#include "host/http_test_client.h"
#include "host/server/development_server.h"
#include "support/built_plugin.h"
#include "support/host_outcome.h"

namespace Kavren::Host {
namespace {

using ::testing::ElementsAre;

constexpr char kNotificationUri[] = "/hxa-player-messaging/v1/notification";
constexpr char kCelebrationUri[] = "/hxa-player-messaging/v1/celebration/notification";
constexpr char kNotificationEvent[] = "OnJsonApiEvent_hxa-player-messaging_v1_notification";

// The head's fields as "id msgId title".
std::string Head(const std::string& json) {
  rapidjson::Document head;
  if (ParseJsonText(json, head).Failed() || !head.IsObject() || !head.HasMember("id")) {
    return "not a head: " + json;
  }
  const char* title = head.HasMember("title") ? "title" : "celebrationTitle";
  return std::to_string(head["id"].GetInt()) + " " + head["msgId"].GetString() + " " +
         head[title].GetString();
}

// The head carried by an announcement's data.
std::string AnnouncedHead(const std::string& json) {
  rapidjson::Document event;
  if (ParseJsonText(json, event).Failed() || !event.IsObject() || !event.HasMember("data")) {
    return "not an announcement: " + json;
  }
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  event["data"].Accept(writer);
  return Head(buffer.GetString());
}

class DevelopmentServerE2eTest : public Testing::BuiltPluginTest {
 protected:
  void SetUp() override {
    rapidjson::Document packet;
    ASSERT_TRUE(
        Succeeded(LoadDocumentFile(HXA_SOURCE_DIR "/examples/login-data-packet.json", packet)));
    ASSERT_TRUE(LoadAndStart(host_, &packet));
    ASSERT_TRUE(Succeeded(server_.Bind()));
    server_.Start();
    client_ = std::make_unique<httplib::Client>("127.0.0.1", server_.Port());
  }
  void TearDown() override {
    server_.Shutdown();
    host_.Stop();
  }

  httplib::Result Send(const char* method, const std::string& path, const std::string& body = "") {
    httplib::Request request;
    request.method = method;
    request.path = path;
    request.body = body;
    if (!body.empty()) request.set_header("Content-Type", "application/json");
    return client_->send(request);
  }

  DevelopmentHost host_;
  DevelopmentServer server_{host_, ServerSettings{}};
  std::unique_ptr<httplib::Client> client_;
};

TEST_F(DevelopmentServerE2eTest, EveryEndpointAndItsFailureShapes) {
  auto head = Send("GET", kNotificationUri);
  ASSERT_TRUE(head);
  EXPECT_EQ(head->status, 200);
  EXPECT_EQ(Head(head->body), "1 msg-dialog-1 Welcome back");
  auto celebration = Send("GET", kCelebrationUri);
  ASSERT_TRUE(celebration);
  EXPECT_EQ(celebration->status, 200);
  EXPECT_EQ(Head(celebration->body), "0  ");

  struct Case {
    const char* method;
    std::string path;
    int status;
    const char* body;
  };
  const std::string acknowledge = std::string(kNotificationUri) + "/1/acknowledge";
  const Case cases[] = {
      {"DELETE", acknowledge, 204, ""},
      {"DELETE", acknowledge, 404, R"({"httpStatus":404,"message":"Not found"})"},
      {"DELETE", std::string(kCelebrationUri) + "/1/acknowledge", 404,
       R"({"httpStatus":404,"message":"Not found"})"},
      {"DELETE", std::string(kNotificationUri) + "/x/acknowledge", 400,
       R"({"httpStatus":400,"message":"Value x for 'id' of type int32 is in an incorrect format"})"},
      {"POST", kNotificationUri, 404,
       R"({"httpStatus":404,"message":"No endpoint for POST /hxa-player-messaging/v1/notification"})"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(std::string(row.method) + " " + row.path);
    const auto reply = Send(row.method, row.path);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, row.status);
    EXPECT_EQ(reply->body, row.body);
  }

  // A failed acknowledgement answers with the server call's failure.
  auto pushed = Send("POST", "/_host/server-messages",
                     R"({"body":{"accountId":700123,"msgId":"m-2","type":"pss-player-message",)"
                     R"("params":["{\"title\":\"Two\",\"message\":\"B\"}"]}})");
  ASSERT_TRUE(pushed);
  EXPECT_EQ(pushed->body, R"({"delivered":1})");
  ASSERT_TRUE(Send("POST", "/_host/wait-for-jobs"));
  EXPECT_EQ(Head(Send("GET", kNotificationUri)->body), "2 m-2 Two");
  EXPECT_EQ(Send("POST", "/_host/invoke-failures", R"({"status":503,"errorText":"down"})")->status,
            204);
  const auto failed = Send("DELETE", std::string(kNotificationUri) + "/2/acknowledge");
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->status, 500);
  EXPECT_EQ(
      failed->body,
      R"({"httpStatus":500,"message":"Error response for POST /hxa-login/v1/session/invoke: down"})");
  const auto invokes = Send("GET", "/_host/invokes");
  ASSERT_TRUE(invokes);
  EXPECT_THAT(invokes->body, ::testing::HasSubstr(R"("msgId":"msg-dialog-1")"));
  EXPECT_THAT(invokes->body, ::testing::HasSubstr(R"("status":503,"errorText":"down")"));

  // A logout and a re-login through the host controls.
  EXPECT_EQ(Send("DELETE", "/_host/login-data-packet")->status, 204);
  EXPECT_EQ(Send("GET", "/_host/login-data-packet")->body, "null");
  EXPECT_EQ(Send("PUT", "/_host/login-data-packet",
                 R"({"allVelkinData":{"velkin":{"acctId":1}},"simpleMessages":[{"accountId":1,)"
                 R"("msgId":"m-3","type":"pss-player-message",)"
                 R"("params":["{\"title\":\"Three\",\"message\":\"B\"}"]}]})")
                ->status,
            204);
  EXPECT_EQ(Head(Send("GET", kNotificationUri)->body), "3 m-3 Three");
  EXPECT_THAT(Send("GET", "/_host/login-data-packet")->body,
              ::testing::HasSubstr(R"("msgId":"m-3")"));
  const auto memory = Send("GET", "/_host/memory");
  ASSERT_TRUE(memory);
  EXPECT_THAT(memory->body, ::testing::HasSubstr(R"("bytesInUse":)"));
}

TEST_F(DevelopmentServerE2eTest, TheStreamShowsThePushAndTheAcknowledgementInOrder) {
  Testing::EventReader reader(server_.Port(), std::string("/events?name=") + kNotificationEvent);
  ASSERT_TRUE(reader.WaitOpen());
  ASSERT_TRUE(Send("DELETE", std::string(kNotificationUri) + "/1/acknowledge"));
  ASSERT_TRUE(Send("POST", "/_host/server-messages",
                   R"({"body":{"accountId":700123,"msgId":"m-2","type":"pss-player-message",)"
                   R"("params":["{\"title\":\"Pushed\",\"message\":\"B\"}"]}})"));
  ASSERT_TRUE(Send("POST", "/_host/wait-for-jobs"));
  ASSERT_TRUE(Send("DELETE", std::string(kNotificationUri) + "/2/acknowledge"));
  std::vector<std::string> heads;
  for (const Testing::StreamEvent& event : reader.WaitFor(3)) {
    EXPECT_EQ(event.name, kNotificationEvent);
    heads.push_back(AnnouncedHead(event.data));
  }
  EXPECT_THAT(heads, ElementsAre("0  ", "2 m-2 Pushed", "0  "));
}

}  // namespace
}  // namespace Kavren::Host
