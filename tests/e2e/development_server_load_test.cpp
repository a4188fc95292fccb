// Load on the built plugin behind the development server: 16 connections send 20,000
// requests (reads and acknowledgements mixed with pushes and armed invoke failures
// through the host controls) to 127.0.0.1. No reply is 5xx but the ones the test
// caused, every pushed message is acknowledged or still stored, and the plugin's
// bytes in use return to where they were before.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <thread>

#include "host/core/document.h"
#include "host/core/messages.h"
#include "host/server/development_server.h"
#include "support/built_plugin.h"
#include "support/host_outcome.h"

namespace Kavren::Host {
namespace {

constexpr int kConnections = 16;
// Seconds a connection waits for its peer, on either side, before giving up.
constexpr int kPatienceSeconds = 120;
constexpr int kRequests = 20000;
constexpr char kHeadUri[] = "/hxa-player-messaging/v1/notification";
constexpr char kInjectedFailure[] = "injected by the load test";

std::string PushBody(const std::string& msgId) {
  return R"({"body":{"accountId":5,"msgId":")" + msgId +
         R"(","type":"pss-player-message","params":["{\"title\":\"T\",\"message\":\"B\"}"]}})";
}

// The head's id, or -1 when the text is no head.
int HeadId(const std::string& json) {
  rapidjson::Document head;
  if (ParseJsonText(json, head).Failed() || !head.IsObject() || !head.HasMember("id") ||
      !head["id"].IsInt()) {
    return -1;
  }
  return head["id"].GetInt();
}

std::uint64_t BytesInUse(httplib::Client& client) {
  const auto reply = client.Get("/_host/memory");
  rapidjson::Document memory;
  if (!reply || ParseJsonText(reply->body, memory).Failed() || !memory.HasMember("bytesInUse")) {
    return 0;
  }
  return memory["bytesInUse"].GetUint64();
}

struct Tally {
  std::atomic<int> serverErrors{0};
  std::atomic<int> injectedErrors{0};
  std::atomic<int> failuresArmed{0};
  std::atomic<int> noReply{0};
  std::mutex mutex;
  std::map<int, int> statuses;
  std::vector<std::string> unexpected;
  std::vector<std::string> transportErrors;

  void Count(const httplib::Result& reply) {
    std::lock_guard lock(mutex);
    if (!reply) {
      ++noReply;
      if (transportErrors.size() < 10) transportErrors.push_back(httplib::to_string(reply.error()));
      return;
    }
    ++statuses[reply->status];
    if (reply->status < 500) return;
    if (reply->body.find(kInjectedFailure) != std::string::npos) {
      ++injectedErrors;
    } else {
      ++serverErrors;
      if (unexpected.size() < 10) unexpected.push_back(reply->body);
    }
  }
};

// One connection's share: rounds of push, read, acknowledge the head read, read the
// other store; one connection in eight also arms an invoke failure now and then.
void RunConnection(int port, int connection, int requests, Tally& tally,
                   std::vector<std::string>& pushed) {
  httplib::Client client("127.0.0.1", port);
  client.set_keep_alive(true);
  client.set_tcp_nodelay(true);
  // A loaded machine may stall a thread for seconds; the load measures the plugin, not
  // the transport's patience.
  client.set_read_timeout(kPatienceSeconds, 0);
  client.set_write_timeout(kPatienceSeconds, 0);
  int head = 0;
  for (int index = 0; index < requests; ++index) {
    switch (index % 4) {
      case 0: {
        if (connection % 8 == 0 && index % 200 == 0) {
          const auto armed =
              client.Post("/_host/invoke-failures",
                          std::string(R"({"status":503,"errorText":")") + kInjectedFailure + "\"}",
                          "application/json");
          tally.Count(armed);
          if (armed && armed->status == 204) ++tally.failuresArmed;
          break;
        }
        const std::string msgId =
            "load-" + std::to_string(connection) + "-" + std::to_string(index);
        const auto reply =
            client.Post("/_host/server-messages", PushBody(msgId), "application/json");
        tally.Count(reply);
        if (reply && reply->status == 200) pushed.push_back(msgId);
        break;
      }
      case 1: {
        const auto reply = client.Get(kHeadUri);
        tally.Count(reply);
        head = reply && reply->status == 200 ? HeadId(reply->body) : 0;
        break;
      }
      case 2:
        tally.Count(
            client.Delete(std::string(kHeadUri) + "/" + std::to_string(head) + "/acknowledge"));
        break;
      default:
        tally.Count(client.Get("/hxa-player-messaging/v1/celebration/notification"));
        break;
    }
  }
}

class DevelopmentServerLoadTest : public Testing::BuiltPluginTest {};

TEST_F(DevelopmentServerLoadTest, SixteenConnectionsTwentyThousandRequests) {
  HostSettings hostSettings;
  hostSettings.historyLimit = 100000;
  DevelopmentHost host(hostSettings);
  rapidjson::Document packet;
  ASSERT_TRUE(Succeeded(
      ParseJsonText(R"({"allVelkinData":{"velkin":{"acctId":5}},"simpleMessages":[]})", packet)));
  ASSERT_TRUE(LoadAndStart(host, &packet));
  ServerSettings serverSettings;
  serverSettings.keepAliveSeconds = kPatienceSeconds;
  DevelopmentServer server(host, serverSettings);
  ASSERT_TRUE(Succeeded(server.Bind()));
  server.Start();
  httplib::Client control("127.0.0.1", server.Port());
  control.set_read_timeout(kPatienceSeconds, 0);

  // A warm-up in process, so what the plugin keeps for its whole life (pools and
  // tables that keep the room of their busiest moment) is in the baseline: as many
  // messages as the load can push go through the stores, which are then emptied.
  constexpr int kMostPushed = kRequests / 4;
  for (int index = 0; index < kMostPushed; ++index) {
    rapidjson::Document body;
    ASSERT_TRUE(
        Succeeded(ParseJsonText(R"({"accountId":5,"msgId":"warm-up-)" + std::to_string(index) +
                                    R"(","type":"pss-player-message","params":["{}"]})",
                                body)));
    ASSERT_TRUE(Succeeded(host.PushServerMessage(body, HostMessages::kSimpleDialogMessageClass)));
  }
  ASSERT_TRUE(host.WaitForJobs(std::chrono::seconds(60)));
  for (int id = 1; id <= kMostPushed; ++id) {
    EndpointCall acknowledge;
    acknowledge.method = Abi::kHttpMethodDelete;
    acknowledge.path = std::string(kHeadUri) + "/" + std::to_string(id) + "/acknowledge";
    const MaybeType<Failure, EndpointReply> reply = host.CallEndpoint(acknowledge);
    ASSERT_TRUE(Succeeded(reply)) << id;
    ASSERT_EQ(reply.Value().status, 0) << id;
  }
  const std::size_t warmUpInvokes = host.Invocations().size();
  const std::uint64_t baseline = BytesInUse(control);

  Tally tally;
  std::vector<std::vector<std::string>> pushed(kConnections);
  const auto start = std::chrono::steady_clock::now();
  {
    std::vector<std::thread> connections;
    for (int connection = 0; connection < kConnections; ++connection) {
      connections.emplace_back(RunConnection, server.Port(), connection, kRequests / kConnections,
                               std::ref(tally), std::ref(pushed[connection]));
    }
    for (std::thread& thread : connections) thread.join();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  // What is still stored is acknowledged now, head by head (bounded by what was pushed).
  ASSERT_TRUE(control.Post("/_host/wait-for-jobs"));
  std::size_t pushedCount = 0;
  for (const auto& list : pushed) pushedCount += list.size();
  int drained = 0;
  for (std::size_t round = 0; round <= pushedCount; ++round) {
    const auto head = control.Get(kHeadUri);
    ASSERT_TRUE(head);
    const int id = HeadId(head->body);
    if (id == 0) break;
    tally.Count(control.Delete(std::string(kHeadUri) + "/" + std::to_string(id) + "/acknowledge"));
    ++drained;
  }
  EXPECT_EQ(HeadId(control.Get(kHeadUri)->body), 0);

  EXPECT_EQ(tally.noReply, 0) << ::testing::PrintToString(tally.transportErrors);
  EXPECT_EQ(tally.serverErrors, 0) << ::testing::PrintToString(tally.unexpected);
  EXPECT_LE(tally.injectedErrors, tally.failuresArmed);

  // Every pushed message reached the server's acknowledgement exactly once.
  const auto invokes = control.Get("/_host/invokes");
  ASSERT_TRUE(invokes);
  rapidjson::Document calls;
  ASSERT_TRUE(Succeeded(ParseJsonText(invokes->body, calls)));
  std::multiset<std::string> acknowledged;
  for (const auto& call : calls.GetArray()) {
    acknowledged.insert(call["arguments"][0]["msgId"].GetString());
  }
  std::size_t missing = 0;
  for (const auto& list : pushed) {
    for (const std::string& msgId : list) {
      if (acknowledged.count(msgId) != 1) ++missing;
    }
  }
  EXPECT_EQ(missing, 0u);
  EXPECT_EQ(acknowledged.size(), pushedCount + warmUpInvokes);

  EXPECT_EQ(BytesInUse(control), baseline);
  std::printf(
      "load: %d requests over %d connections in %.1f s (%.0f/s); %zu pushed, %d drained "
      "after; %d failures armed, %d injected 5xx; statuses:",
      kRequests, kConnections, seconds, kRequests / seconds, pushedCount, drained,
      tally.failuresArmed.load(), tally.injectedErrors.load());
  for (const auto& [status, count] : tally.statuses) std::printf(" %d x%d", status, count);
  std::printf("\n");
  // The server waits for its kept-alive connections to close before it shuts down.
  control.stop();
  server.Shutdown();
  host.Stop();
}

}  // namespace
}  // namespace Kavren::Host
