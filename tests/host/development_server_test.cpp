// The development server over real HTTP on 127.0.0.1, in front of the in-process fake
// plugin: reply mapping, pass-through, refused input, host controls and event streams.
#include "host/server/development_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_plugin.h"
#include "http_test_client.h"
#include "support/host_outcome.h"

namespace Kavren::Host {
namespace {

using ::testing::ElementsAre;
using Testing::Fake;
using ::testing::HasSubstr;

class DevelopmentServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Fake().Reset();
    ASSERT_TRUE(host_.Load(Testing::FakeLoad, CoreVersion{}));
    ASSERT_TRUE(host_.Start());
    ASSERT_TRUE(Succeeded(server_.Bind()));
    server_.Start();
  }
  void TearDown() override {
    server_.Shutdown();
    host_.Stop();
  }

  httplib::Client Client() { return httplib::Client("127.0.0.1", server_.Port()); }

  DevelopmentHost host_;
  DevelopmentServer server_{host_, ServerSettings{}};
};

TEST_F(DevelopmentServerTest, RepliesCarryTheirStatusAndJsonBodies) {
  struct Case {
    const char* method;
    const char* path;
    int status;
    const char* body;
  };
  const Case cases[] = {
      {"GET", "/fake/v1/items/42", 200, R"({"path":"/fake/v1/items/42","n":[1,-2,2.5]})"},
      {"GET", "/fake/v1/items/empty", 204, ""},
      // A failure without a status is the request's fault (a failed argument binding);
      // one whose stream breaks is the plugin's.
      {"GET", "/fake/v1/items/failed-unset", 400, R"({"httpStatus":400,"message":"Broken"})"},
      {"GET", "/fake/v1/items/stream-broken", 500,
       R"({"httpStatus":500,"message":"Stream read error"})"},
      // A failure is never reported with a success status.
      {"GET", "/fake/v1/items/failed-200", 500, R"({"httpStatus":500,"message":"Broken"})"},
      {"DELETE", "/fake/v1/items/7", 404, R"({"httpStatus":404,"message":"Not found"})"},
      {"GET", "/elsewhere", 404,
       R"({"httpStatus":404,"message":"No endpoint for GET /elsewhere"})"},
      {"PUT", "/fake/v1/items/1", 404,
       R"({"httpStatus":404,"message":"No endpoint for PUT /fake/v1/items/1"})"},
      {"TRACE", "/fake/v1/items/1", 404,
       R"({"httpStatus":404,"message":"No endpoint for TRACE /fake/v1/items/1"})"},
  };
  httplib::Client client = Client();
  for (const Case& row : cases) {
    SCOPED_TRACE(std::string(row.method) + " " + row.path);
    httplib::Request request;
    request.method = row.method;
    request.path = row.path;
    const auto reply = client.send(request);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, row.status);
    EXPECT_EQ(reply->body, row.body);
    if (reply->body.empty()) continue;
    EXPECT_EQ(reply->get_header_value("Content-Type"), "application/json");
  }
  const auto streamed = client.Get("/fake/v1/items/stream");
  ASSERT_TRUE(streamed);
  EXPECT_EQ(streamed->status, 200);
  EXPECT_EQ(streamed->body, std::string(4096, 'a') + std::string(4096, 'b') + "cccccccccc");
  EXPECT_EQ(streamed->get_header_value("Content-Type"), "application/octet-stream");
}

TEST_F(DevelopmentServerTest, MethodPathHeadersAndBodyPassThroughUnchanged) {
  httplib::Client client = Client();
  ASSERT_TRUE(client.Get("/fake/v1/items/a%20b?x=1&y=%2F", {{"X-Velkin-Id", "v 1"}}));
  ASSERT_TRUE(client.Delete("/fake/v1/items/9", R"({"b":1})", "application/x-yaml"));
  EXPECT_THAT(Testing::RawExchange(server_.Port(),
                                   "DELETE /fake/v1/items/8 HTTP/1.1\r\nHost: x\r\n"
                                   "Content-Length: 3\r\nConnection: close\r\n\r\nraw"),
              ::testing::StartsWith("HTTP/1.1 404 "));
  const auto requests = Fake().Copy(Fake().requests);
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_THAT(requests[0], HasSubstr("2 /fake/v1/items/a%20b?x=1&y=%2F get "));
  EXPECT_THAT(requests[0], ::testing::EndsWith("[] (null) (none)"));
  EXPECT_THAT(requests[1], ::testing::EndsWith(R"([] application/x-yaml {"b":1})"));
  EXPECT_THAT(requests[2], ::testing::EndsWith("[] (null) raw"));
  const auto headers = Fake().Copy(Fake().headers);
  EXPECT_THAT(headers[0], HasSubstr("X-Velkin-Id=v 1;"));
  EXPECT_THAT(headers[0], ::testing::Not(HasSubstr("REMOTE_ADDR")));
  EXPECT_THAT(headers[0], ::testing::EndsWith(" (null)"));
}

TEST_F(DevelopmentServerTest, OversizedAndMalformedRequestsAreRefusedAndTheServerGoesOn) {
  const std::string tooLarge = Testing::RawExchange(
      server_.Port(),
      "DELETE /fake/v1/items/1 HTTP/1.1\r\nHost: x\r\nContent-Length: 67108865\r\n"
      "Expect: 100-continue\r\nConnection: close\r\n\r\n");
  EXPECT_THAT(tooLarge, ::testing::StartsWith("HTTP/1.1 413 "));
  EXPECT_THAT(
      tooLarge,
      ::testing::EndsWith(R"({"httpStatus":413,"message":"Request body is larger than 64 MiB"})"));
  const std::string unknown = Testing::RawExchange(
      server_.Port(), "BREW /fake/v1/items/1 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_THAT(unknown, ::testing::StartsWith("HTTP/1.1 400 "));
  EXPECT_THAT(unknown, ::testing::EndsWith(R"({"httpStatus":400,"message":"Bad Request"})"));
  EXPECT_TRUE(Fake().Copy(Fake().requests).empty());
  const auto after = Client().Get("/fake/v1/items/1");
  ASSERT_TRUE(after);
  EXPECT_EQ(after->status, 200);
}

TEST_F(DevelopmentServerTest, HostControlsTakeTheScenarioStepsObjects) {
  Abi::HostFunctions* functions = host_.Functions();
  functions->Log(functions, 1, "hello");
  struct Case {
    const char* method;
    const char* route;
    const char* body;
    int status;
    const char* reply;
  };
  const Case cases[] = {
      {"PUT", "login-data-packet", R"({"simpleMessages":[]})", 204, ""},
      {"DELETE", "login-data-packet", "", 204, ""},
      {"POST", "server-messages", R"({"body":{"msgId":"m"},"clientId":"c"})", 200,
       R"({"delivered":1})"},
      {"POST", "server-messages", "{}", 400,
       R"({"httpStatus":400,"message":"\"push server message\" needs an object with \"body\""})"},
      {"POST", "server-messages", "{", 400,
       R"({"httpStatus":400,"message":"JSON error at offset 1: Missing a name for object member."})"},
      {"POST", "invoke-failures", R"("x")", 400,
       R"({"httpStatus":400,"message":"\"fail next invoke\" takes nothing or {\"status\", \"errorText\"}"})"},
      {"POST", "invoke-failures", R"({"status":418,"errorText":"teapot"})", 204, ""},
      {"POST", "wait-for-jobs", R"({"timeoutMs":1000})", 200, R"({"done":true})"},
      {"GET", "log", "", 200, R"([{"level":1,"message":"hello"}])"},
      {"GET", "memory", "", 200,
       R"({"peakBytes":0,"peakBlocks":0,"allocatedBytes":0,"allocations":7,"freedBytes":0,"frees":0,"bytesInUse":0})"},
      {"PATCH", "login-data-packet", "", 405,
       R"({"httpStatus":405,"message":"Method Not Allowed"})"},
      {"GET", "nothing", "", 404,
       R"({"httpStatus":404,"message":"No host control for GET /_host/nothing"})"},
  };
  httplib::Client client = Client();
  for (const Case& row : cases) {
    SCOPED_TRACE(std::string(row.method) + " " + row.route + " " + row.body);
    httplib::Request request;
    request.method = row.method;
    request.path = std::string("/_host/") + row.route;
    request.body = row.body;
    const auto reply = client.send(request);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, row.status);
    EXPECT_EQ(reply->body, row.reply);
  }
  const Testing::HostReply failed = Testing::CallHost(
      Abi::kHttpMethodPost, "/hxa-login/v1/session/invoke", {R"("s")", R"("m")", "[1]"});
  EXPECT_EQ(failed.status, 418);
  EXPECT_EQ(failed.errorText, "teapot");
  const auto invokes = client.Get("/_host/invokes");
  ASSERT_TRUE(invokes);
  EXPECT_EQ(invokes->body,
            R"([{"service":"s","method":"m","arguments":[1],"status":418,"errorText":"teapot"}])");
  const auto events = Fake().Copy(Fake().events);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_THAT(events[0], HasSubstr(R"("eventType":"Create","data":{"simpleMessages":[]})"));
  EXPECT_THAT(events[1], HasSubstr(R"("eventType":"Delete","data":null)"));
  EXPECT_THAT(events[2], HasSubstr(R"("clientId":"c")"));
}

TEST_F(DevelopmentServerTest, EventStreamsShowThePluginsEventsFilteredByName) {
  Testing::EventReader all(server_.Port(), "/events");
  Testing::EventReader named(server_.Port(), "/events?name=B");
  ASSERT_TRUE(all.WaitOpen());
  ASSERT_TRUE(named.WaitOpen());
  ASSERT_TRUE(
      Succeeded(host_.SetLoginDataPacket(rapidjson::Document().SetObject())));  // host's own
  Testing::Publish("A", R"({"n":1})");
  Testing::Publish("B", R"({"text":"two\nlines"})");
  Testing::Publish("A", "[]");
  EXPECT_THAT(all.WaitFor(3), ElementsAre(Testing::StreamEvent{"A", R"({"n":1})"},
                                          Testing::StreamEvent{"B", R"({"text":"two\nlines"})"},
                                          Testing::StreamEvent{"A", "[]"}));
  EXPECT_THAT(named.WaitFor(1), ElementsAre(Testing::StreamEvent{"B", R"({"text":"two\nlines"})"}));
  // Shutting the server down ends the streams.
  server_.Shutdown();
  EXPECT_TRUE(all.WaitEnded());
}

TEST(DevelopmentServerLimitsTest, StreamsBeyondTheLimitAreRefused) {
  DevelopmentHost host;
  ServerSettings settings;
  settings.maxStreams = 1;
  DevelopmentServer server(host, settings);
  ASSERT_TRUE(Succeeded(server.Bind()));
  server.Start();
  Testing::EventReader first(server.Port(), "/events");
  ASSERT_TRUE(first.WaitOpen());
  const auto second = httplib::Client("127.0.0.1", server.Port()).Get("/events");
  ASSERT_TRUE(second);
  EXPECT_EQ(second->status, 503);
  EXPECT_EQ(second->body, R"({"httpStatus":503,"message":"Too many event streams are open"})");
  // Without a plugin, endpoints are not found.
  const auto none = httplib::Client("127.0.0.1", server.Port()).Get("/x");
  ASSERT_TRUE(none);
  EXPECT_EQ(none->body, R"({"httpStatus":404,"message":"No plugin is loaded"})");
  server.Shutdown();
}

}  // namespace
}  // namespace Kavren::Host
