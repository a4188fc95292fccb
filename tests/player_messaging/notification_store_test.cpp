// One notification store on its own: order, the room it gives back, and announcements
// made from inside an announcement or ended by a throwing publisher.
#include "player_messaging/notification_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "player_messaging/records.h"

namespace Kavren::Client::PlayerMessaging {
namespace {

using ::testing::ElementsAre;

constexpr char kUri[] = "/store";

std::vector<std::int32_t> Ids(const NotificationStore<Notification>& store) {
  std::vector<std::int32_t> ids;
  for (const Notification& record : store.Records()) ids.push_back(record.id);
  return ids;
}

std::optional<std::string> Remove(NotificationStore<Notification>& store, std::int32_t id) {
  return store.Remove(id, [] {});
}

TEST(NotificationStoreTest, GivesRoomBackWhenEmptiedOrDownToAQuarter) {
  std::mutex lock;
  NotificationStore<Notification> store(lock, kUri);
  for (int index = 0; index < 4000; ++index) store.AppendNumbered(Notification{}, 1);
  const std::size_t peak = store.Capacity();
  ASSERT_GE(peak, 4000u);

  // Down to a quarter of the room, the room stays.
  std::int32_t next = 1;
  for (std::size_t held = 4000; held > peak / 4; --held) ASSERT_TRUE(Remove(store, next++));
  EXPECT_EQ(store.Capacity(), peak);
  // One below a quarter, and the room shrinks to what is held; the order stays.
  ASSERT_TRUE(Remove(store, next++));
  EXPECT_EQ(store.Capacity(), store.Records().size());
  EXPECT_EQ(store.Head().id, next);
  EXPECT_EQ(Ids(store).back(), 4000);

  while (next <= 4000) ASSERT_TRUE(Remove(store, next++));
  EXPECT_EQ(store.Capacity(), 0u);
  EXPECT_FALSE(Remove(store, 1));

  for (int index = 0; index < 100; ++index) store.AppendNumbered(Notification{}, 1);
  store.Clear();
  EXPECT_EQ(store.Capacity(), 0u);
  EXPECT_EQ(store.NextId(), 4101);
}

TEST(NotificationStoreTest, AChangeMadeInsideAnAnnouncementIsAnnouncedAfterIt) {
  std::mutex lock;
  NotificationStore<Notification> store(lock, kUri);
  store.AppendNumbered(Notification{}, 1);
  store.AppendNumbered(Notification{}, 1);
  std::vector<std::int32_t> announced;
  auto publish = [&](const char* uri, const Notification& head) {
    EXPECT_STREQ(uri, kUri);
    announced.push_back(head.id);
    // The user interface acknowledges each head as it is announced, on this thread.
    if (head.id != 0) {
      EXPECT_TRUE(Remove(store, head.id));
      store.Announce([&](const char*, const Notification&) { ADD_FAILURE() << "nested"; });
    }
  };
  store.Announce(publish);
  EXPECT_THAT(announced, ElementsAre(1, 2, 0));
}

TEST(NotificationStoreTest, AThrowingPublisherLeavesTheStoreAnnounceable) {
  std::mutex lock;
  NotificationStore<Notification> store(lock, kUri);
  store.AppendNumbered(Notification{}, 3);
  EXPECT_THROW(
      store.Announce([](const char*, const Notification&) { throw std::runtime_error("host"); }),
      std::runtime_error);
  std::vector<std::int32_t> announced;
  store.Announce([&](const char*, const Notification& head) { announced.push_back(head.id); });
  EXPECT_THAT(announced, ElementsAre(3));
}

}  // namespace
}  // namespace Kavren::Client::PlayerMessaging
