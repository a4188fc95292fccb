// Server pushes racing the user interface's reads and acknowledgements on the built plugin.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "abi/http.h"
#include "host/core/development_host.h"
#include "host/core/document.h"
#include "host/core/messages.h"
#include "host/core/plugin_library.h"
#include "support/built_plugin.h"
#include "support/host_outcome.h"

namespace Kavren::Host {
namespace {

// 10,000 messages in all, also under ThreadSanitizer (about a minute there).
constexpr int kMessagesPerPusher = 5000;
constexpr int kPushers = 2;
constexpr std::uint64_t kAccount = 700123;

constexpr char kNotificationPath[] = "/hxa-player-messaging/v1/notification";
constexpr char kCelebrationPath[] = "/hxa-player-messaging/v1/celebration/notification";
constexpr char kNotificationEvent[] = "OnJsonApiEvent_hxa-player-messaging_v1_notification";
constexpr char kCelebrationEvent[] = "OnJsonApiEvent_hxa-player-messaging_v1_celebration";

// RapidJSON 1.1's comparisons with plain numbers and texts recurse forever under
// C++20, so values are read through these.
std::string Text(const rapidjson::Value& value, const char* member) {
  if (!value.IsObject() || !value.HasMember(member) || !value[member].IsString()) {
    return "<no text " + std::string(member) + ">";
  }
  return std::string(value[member].GetString(), value[member].GetStringLength());
}
std::int64_t Number(const rapidjson::Value& value, const char* member) {
  if (!value.IsObject() || !value.HasMember(member)) return -999999;
  const rapidjson::Value& number = value[member];
  return number.IsInt64()    ? number.GetInt64()
         : number.IsUint64() ? static_cast<std::int64_t>(number.GetUint64())
                             : -999999;
}

// Every third message of a pusher is a celebration; the rest are dialog messages.
bool IsCelebration(int index) { return index % 3 == 2; }

std::string MessageId(int pusher, int index) {
  return (IsCelebration(index) ? "cel-" : "dlg-") + std::to_string(pusher) + "-" +
         std::to_string(index);
}

rapidjson::Document MessageBody(int pusher, int index) {
  rapidjson::Document body(rapidjson::kObjectType);
  auto& allocator = body.GetAllocator();
  const std::string msgId = MessageId(pusher, index);
  body.AddMember("accountId", kAccount, allocator);
  body.AddMember("msgId", rapidjson::Value(msgId.c_str(), allocator), allocator);
  rapidjson::Value params(rapidjson::kArrayType);
  if (IsCelebration(index)) {
    body.AddMember("type", "dynamic-celebration", allocator);
    body.AddMember("titleCode", "Reward unlocked", allocator);
    body.AddMember("bodyCode", rapidjson::Value(msgId.c_str(), allocator), allocator);
    for (const char* param : {"season-reward", "Thanks for playing", "banner", "98231", "1"}) {
      params.PushBack(rapidjson::Value(param, allocator), allocator);
    }
  } else {
    body.AddMember("type", "pss-player-message", allocator);
    const std::string param = R"({"title": "Dialog", "message": ")" + msgId + R"("})";
    params.PushBack(rapidjson::Value(param.c_str(), allocator), allocator);
  }
  body.AddMember("params", params, allocator);
  return body;
}

// The head record of one store, read through its GET endpoint.
struct Head {
  bool ok = false;
  std::string failure;
  std::int64_t id = -1;
  std::string msgId;
  std::string json;
};

Head ReadHead(DevelopmentHost& host, const char* path) {
  Head head;
  EndpointCall call;
  call.method = Abi::kHttpMethodGet;
  call.path = path;
  const MaybeType<Failure, EndpointReply> reply = host.CallEndpoint(call);
  if (reply.Failed()) {
    head.failure = "GET " + std::string(path) + ": " + reply.GetFailure().message;
    return head;
  }
  head.json = reply.Value().valueJson;
  rapidjson::Document value;
  MaybeType<Failure> read = reply.Value().outcome;
  if (read.Succeeded()) read = ParseJsonText(head.json, value);
  if (read.Failed()) {
    head.failure = "GET " + std::string(path) + ": " + read.GetFailure().message;
  } else {
    head.ok = true;
    head.id = Number(value, "id");
    head.msgId = Text(value, "msgId");
  }
  return head;
}

// Acknowledges `id` in the store at `path`; empty on success, else what went wrong.
std::string Acknowledge(DevelopmentHost& host, const char* path, std::int64_t id) {
  const std::string uri = std::string(path) + "/" + std::to_string(id) + "/acknowledge";
  EndpointCall call;
  call.method = Abi::kHttpMethodDelete;
  call.path = uri;
  const MaybeType<Failure, EndpointReply> reply = host.CallEndpoint(call);
  if (reply.Failed()) return "DELETE " + uri + ": status 0 " + reply.GetFailure().message;
  if (reply.Value().outcome.Succeeded()) return "";
  return "DELETE " + uri + ": status " + std::to_string(reply.Value().status) + " " +
         reply.Value().outcome.GetFailure().message;
}

// The "data" of the last resource event published under `name`: the head it announced.
std::string LastAnnouncedHead(const std::vector<PublishedEvent>& events, const std::string& name) {
  for (auto event = events.rbegin(); event != events.rend(); ++event) {
    if (event->origin != "plugin" || event->name != name) continue;
    rapidjson::Document payload;
    const MaybeType<Failure> parsed = ParseJsonText(event->payloadJson, payload);
    if (parsed.Failed()) return "<not JSON> " + parsed.GetFailure().message;
    const rapidjson::Value& data =
        payload.IsObject() && payload.HasMember("data") ? payload["data"] : payload;
    return "id " + std::to_string(Number(data, "id")) + " msgId " + Text(data, "msgId");
  }
  return "<never announced>";
}

std::string Describe(const Head& head) {
  return "id " + std::to_string(head.id) + " msgId " + head.msgId;
}

class PlayerMessagingConcurrencyTest : public Testing::BuiltPluginTest {};

TEST_F(PlayerMessagingConcurrencyTest, PushesRacingReadsAndAcknowledgementsLoseNothing) {
  DevelopmentHost host;  // two job workers
  rapidjson::Document packet;
  ASSERT_TRUE(
      Succeeded(ParseJsonText(R"({"allVelkinData": {"velkin": {"acctId": 700123, "velId": 4410}},
                                "simpleMessages": []})",
                              packet)));
  ASSERT_TRUE(LoadAndStart(host, &packet, CoreVersion{18, 0, 0}));

  // Each pusher sends its own messages; a push is handled in a job on a worker.
  std::atomic<int> pushersLeft{kPushers};
  std::vector<std::vector<std::string>> pushFailures(kPushers);
  std::vector<std::thread> pushers;
  for (int pusher = 0; pusher < kPushers; ++pusher) {
    pushers.emplace_back([&, pusher] {
      for (int index = 0; index < kMessagesPerPusher; ++index) {
        const rapidjson::Document body = MessageBody(pusher, index);
        const MaybeType<Failure, std::size_t> pushed =
            host.PushServerMessage(body, HostMessages::kSimpleDialogMessageClass);
        if (pushed.Failed()) {
          pushFailures[pusher].push_back(MessageId(pusher, index) + ": " +
                                         pushed.GetFailure().message);
        } else if (pushed.Value() != 1) {
          pushFailures[pusher].push_back(MessageId(pusher, index) + ": delivered " +
                                         std::to_string(pushed.Value()));
        }
      }
      pushersLeft.fetch_sub(1);
    });
  }

  // The user interface: reads both heads and acknowledges them while pushes arrive.
  // Only this thread removes, so a head it read is still stored when it acknowledges it.
  std::vector<std::string> readerFailures;
  std::size_t acknowledged = 0;
  std::thread reader([&] {
    while (pushersLeft.load() > 0) {
      for (const char* path : {kNotificationPath, kCelebrationPath}) {
        const Head head = ReadHead(host, path);
        if (!head.ok) {
          readerFailures.push_back(head.failure);
          continue;
        }
        if (head.id == 0) continue;
        const std::string failure = Acknowledge(host, path, head.id);
        if (failure.empty()) {
          ++acknowledged;
        } else {
          readerFailures.push_back(failure);
        }
      }
    }
  });

  for (std::thread& pusher : pushers) pusher.join();
  reader.join();
  ASSERT_TRUE(host.WaitForJobs(std::chrono::minutes(5)));

  for (const auto& failures : pushFailures) EXPECT_TRUE(failures.empty()) << failures.front();
  EXPECT_TRUE(readerFailures.empty())
      << readerFailures.size() << " failures, first " << readerFailures.front();

  // The last announcement of each store is the head it holds now.
  const Head notificationHead = ReadHead(host, kNotificationPath);
  const Head celebrationHead = ReadHead(host, kCelebrationPath);
  ASSERT_TRUE(notificationHead.ok) << notificationHead.failure;
  ASSERT_TRUE(celebrationHead.ok) << celebrationHead.failure;
  const std::vector<PublishedEvent> events = host.Events();
  EXPECT_EQ(LastAnnouncedHead(events, kNotificationEvent), Describe(notificationHead))
      << notificationHead.json;
  EXPECT_EQ(LastAnnouncedHead(events, kCelebrationEvent), Describe(celebrationHead))
      << celebrationHead.json;

  // Drain what is left, collecting the stored messages.
  std::vector<std::string> stored;
  for (const char* path : {kNotificationPath, kCelebrationPath}) {
    for (Head head = ReadHead(host, path); head.ok && head.id != 0; head = ReadHead(host, path)) {
      stored.push_back(head.msgId);
      const std::string failure = Acknowledge(host, path, head.id);
      ASSERT_TRUE(failure.empty()) << failure;
    }
  }
  EXPECT_EQ(ReadHead(host, kNotificationPath).id, 0);
  EXPECT_EQ(ReadHead(host, kCelebrationPath).id, 0);

  // Every pushed message was acknowledged exactly once, during the run or by the
  // drain, and every message the drain found was one nobody had acknowledged.
  const std::vector<Invocation> invocations = host.Invocations();
  std::map<std::string, int> ackCount;
  for (const Invocation& invocation : invocations) {
    EXPECT_EQ(invocation.service, "clientFacadeService");
    EXPECT_EQ(invocation.method, "callPersistenceMessaging");
    EXPECT_EQ(invocation.status, 200) << invocation.errorText;
    rapidjson::Document arguments;
    ASSERT_TRUE(Succeeded(ParseJsonText(invocation.argumentsJson, arguments)));
    ASSERT_TRUE(arguments.IsArray() && arguments.Size() == 1) << invocation.argumentsJson;
    EXPECT_EQ(Number(arguments[0], "accountId"), static_cast<std::int64_t>(kAccount));
    EXPECT_EQ(Text(arguments[0], "command"), "ack");
    ++ackCount[Text(arguments[0], "msgId")];
  }
  EXPECT_EQ(invocations.size(), acknowledged + stored.size());
  std::set<std::string> drained;
  for (const std::string& msgId : stored) {
    EXPECT_TRUE(drained.insert(msgId).second) << msgId << " stored twice";
  }
  std::size_t missing = 0;
  for (int pusher = 0; pusher < kPushers; ++pusher) {
    for (int index = 0; index < kMessagesPerPusher; ++index) {
      const std::string msgId = MessageId(pusher, index);
      const int count = ackCount[msgId];
      if (count != 1 && ++missing <= 5) {
        ADD_FAILURE() << msgId << " acknowledged " << count << " times";
      }
    }
  }
  EXPECT_EQ(missing, 0u);
  EXPECT_EQ(ackCount.size(), static_cast<std::size_t>(kPushers * kMessagesPerPusher));
  host.Stop();
}

// Two jobs handling pushes at once take their ids and append their records in two
// separate steps, so a record with a smaller id can land behind one with a larger id,
// and the store is then no longer ordered by id, oldest first.
TEST_F(PlayerMessagingConcurrencyTest, ConcurrentPushesAreStoredInIdOrder) {
  DevelopmentHost host;  // two job workers
  ASSERT_TRUE(LoadAndStart(host));
  std::vector<std::thread> pushers;
  for (int pusher = 0; pusher < kPushers; ++pusher) {
    pushers.emplace_back([&, pusher] {
      for (int index = 0; index < kMessagesPerPusher / 5; ++index) {
        EXPECT_TRUE(Succeeded(host.PushServerMessage(MessageBody(pusher, index),
                                                     HostMessages::kSimpleDialogMessageClass)));
      }
    });
  }
  for (std::thread& pusher : pushers) pusher.join();
  ASSERT_TRUE(host.WaitForJobs(std::chrono::minutes(5)));

  std::vector<std::string> outOfOrder;
  for (const char* path : {kNotificationPath, kCelebrationPath}) {
    std::int64_t previous = 0;
    for (Head head = ReadHead(host, path); head.ok && head.id != 0; head = ReadHead(host, path)) {
      if (head.id <= previous) {
        outOfOrder.push_back(std::string(path) + ": " + Describe(head) + " stored after id " +
                             std::to_string(previous));
      }
      previous = head.id;
      const std::string failure = Acknowledge(host, path, head.id);
      ASSERT_TRUE(failure.empty()) << failure;
    }
  }
  host.Stop();
  EXPECT_TRUE(outOfOrder.empty()) << "records stored out of id order " << outOfOrder.size()
                                  << " times, first " << outOfOrder.front();
}

}  // namespace
}  // namespace Kavren::Host
