// The notification stores used from several host threads at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "formats/json.h"
#include "messaging_host_support.h"
#include "player_messaging/module.h"

namespace Kavren::Testing {
namespace {

using Client::PlayerMessaging::Notification;

TEST(NotificationServiceConcurrencyTest, IdsStayUniqueAndTheLastAnnouncementIsTheCurrentHead) {
  FakeEventHost host;
  StartedMessagingModule module(host);
  ASSERT_NE(module.Get(), nullptr);
  constexpr int kThreads = 4;
  constexpr int kPerThread = 25;

  std::vector<std::vector<std::int32_t>> taken(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&module, &taken, t] {
      for (int i = 0; i < kPerThread; ++i) {
        Notification record;
        record.id = module->Service().NextNotificationId();
        record.msgId = (i % 2 == 0) ? "" : "m" + std::to_string(record.id);
        record.status = 1;
        module->Service().AddNotification(record);
        taken[t].push_back(record.id);
      }
      // Each thread acknowledges what it added, except its last one.
      for (int i = 0; i + 1 < kPerThread; ++i) {
        EXPECT_TRUE(module->Service().AcknowledgeNotification(taken[t][i]).Succeeded());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  std::set<std::int32_t> unique;
  for (const auto& ids : taken) unique.insert(ids.begin(), ids.end());
  EXPECT_EQ(unique.size(), static_cast<std::size_t>(kThreads * kPerThread));
  EXPECT_EQ(module->Service().Notifications().size(), static_cast<std::size_t>(kThreads));

  // The last announcement carries the head as it is now.
  const std::string prefix = "Publish OnJsonApiEvent_hxa-player-messaging_v1_notification 0 ";
  std::string last;
  for (const std::string& call : host.Calls()) {
    if (call.rfind(prefix, 0) == 0) last = call.substr(prefix.size());
  }
  const BindingResult payload = ReadJson(last);
  ASSERT_TRUE(payload.ok);
  EXPECT_EQ(payload.value.Find("data").Find("id").GetUnsigned(),
            static_cast<std::uint64_t>(module->Service().HeadNotification().id));
}

}  // namespace
}  // namespace Kavren::Testing
