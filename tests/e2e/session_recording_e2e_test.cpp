// A development-server session recorded with --record's recording and replayed as a
// scenario: the replay has the session's effects (events, server calls), in order.
#include <gtest/gtest.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/cli/scenario.h"
#include "host/core/document.h"
#include "host/server/development_server.h"
#include "host/server/session_recording.h"
#include "support/built_plugin.h"
#include "support/host_outcome.h"

namespace Kavren::Host::SessionRecordingE2e {
namespace {

constexpr char kNotificationUri[] = "/hxa-player-messaging/v1/notification";

std::string Compact(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  return buffer.GetString();
}

class SessionRecordingE2eTest : public Testing::BuiltPluginTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(
        Succeeded(LoadDocumentFile(HXA_SOURCE_DIR "/examples/login-data-packet.json", packet_)));
  }
  void TearDown() override { std::filesystem::remove(path_); }

  const std::string path_ = (std::filesystem::temp_directory_path() /
                             ("hxa-session-" + std::to_string(::getpid()) + ".json"))
                                .string();
  rapidjson::Document packet_;
};

TEST_F(SessionRecordingE2eTest, ARecordedSessionReplaysToTheSameEffects) {
  std::vector<std::string> session;
  {
    SessionRecording recording(path_);
    DevelopmentHost host;
    ServerSettings settings;
    settings.recording = &recording;
    DevelopmentServer server(host, settings);
    ASSERT_TRUE(LoadAndStart(host, &packet_));
    ASSERT_TRUE(Succeeded(recording.Begin(&packet_, nullptr)));
    ASSERT_TRUE(Succeeded(server.Bind()));
    server.Start();
    httplib::Client client("127.0.0.1", server.Port());
    const auto send = [&client](const char* method, const std::string& path,
                                const std::string& body = "") {
      httplib::Request request;
      request.method = method;
      request.path = path;
      request.body = body;
      if (!body.empty()) request.set_header("Content-Type", "application/json");
      const auto reply = client.send(request);
      return reply ? reply->status : -1;
    };
    // A person's session: reads, acknowledgements (one malformed, one whose server call
    // fails), a push, a logout and a re-login.
    EXPECT_EQ(send("GET", kNotificationUri), 200);
    EXPECT_EQ(send("DELETE", std::string(kNotificationUri) + "/1/acknowledge"), 204);
    EXPECT_EQ(send("DELETE", std::string(kNotificationUri) + "/x/acknowledge"), 400);
    EXPECT_EQ(send("POST", "/_host/server-messages",
                   R"({"body":{"accountId":700123,"msgId":"m-2","type":"pss-player-message",)"
                   R"("params":["{\"title\":\"Two\",\"message\":\"B\"}"]}})"),
              200);
    EXPECT_EQ(send("POST", "/_host/wait-for-jobs"), 200);
    EXPECT_EQ(send("POST", "/_host/invoke-failures", R"({"status":503,"errorText":"down"})"), 204);
    EXPECT_EQ(send("DELETE", std::string(kNotificationUri) + "/2/acknowledge"), 500);
    EXPECT_EQ(send("DELETE", "/_host/login-data-packet"), 204);
    EXPECT_EQ(send("PUT", "/_host/login-data-packet", Compact(packet_)), 204);
    EXPECT_EQ(send("GET", kNotificationUri), 200);
    EXPECT_EQ(send("POST", "/_host/wait-for-jobs"), 200);
    server.Shutdown();
    for (const PublishedEvent& event : host.Events()) {
      session.push_back("event " + event.origin + " " + event.name + " " + event.payloadJson);
    }
    for (const Invocation& invocation : host.Invocations()) {
      session.push_back("invoke " + invocation.method + " " + std::to_string(invocation.status));
    }
    host.Stop();
    ASSERT_TRUE(Succeeded(recording.LastWrite()));
  }

  rapidjson::Document scenario;
  ASSERT_TRUE(Succeeded(LoadDocumentFile(path_, scenario)));
  std::vector<std::string> events;
  std::vector<std::string> invokes;
  std::size_t replies = 0;
  const MaybeType<Failure> ran =
      RunScenario(scenario, Library().Export(), ScenarioSettings{}, [&](const std::string& line) {
        rapidjson::Document effect;
        effect.Parse(line.c_str());
        const std::string kind = effect["effect"].GetString();
        if (kind == "event") {
          events.push_back("event " + std::string(effect["origin"].GetString()) + " " +
                           effect["name"].GetString() + " " + Compact(effect["payload"]));
        } else if (kind == "invoke") {
          invokes.push_back("invoke " + std::string(effect["method"].GetString()) + " " +
                            std::to_string(effect["status"].GetInt()));
        } else if (kind == "reply") {
          ++replies;
        }
      });
  ASSERT_TRUE(Succeeded(ran));
  std::vector<std::string> replay = events;
  replay.insert(replay.end(), invokes.begin(), invokes.end());
  EXPECT_EQ(replay, session);
  // Both acknowledgements reached the server (the second failed), and the five calls replied.
  EXPECT_EQ(invokes, (std::vector<std::string>{"invoke callPersistenceMessaging 200",
                                               "invoke callPersistenceMessaging 503"}));
  EXPECT_EQ(replies, 5u);
}

}  // namespace
}  // namespace Kavren::Host::SessionRecordingE2e
