// The notification service driven through a started module and a recording host: reading
// the heads, acknowledging, announcing and numbering.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/json.h"
#include "messaging_host_support.h"
#include "player_messaging/module.h"

namespace Kavren::Testing {
namespace {

using Client::PlayerMessaging::Celebration;
using Client::PlayerMessaging::Notification;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kNotificationEvent[] = "OnJsonApiEvent_hxa-player-messaging_v1_notification";
constexpr char kCelebrationEvent[] = "OnJsonApiEvent_hxa-player-messaging_v1_celebration";
constexpr char kInvokePath[] = "/hxa-login/v1/session/invoke";

/// The ids of the heads announced under `eventName`, in order.
std::vector<std::int64_t> AnnouncedIds(const FakeEventHost& host, const std::string& eventName) {
  const std::string prefix = "Publish " + eventName + " 0 ";
  std::vector<std::int64_t> ids;
  for (const std::string& call : host.Calls()) {
    if (call.rfind(prefix, 0) != 0) continue;
    const BindingResult payload = ReadJson(call.substr(prefix.size()));
    const BindingProperty& id = payload.value.Find("data").Find("id");
    ids.push_back(id.Is(ValueKind::kUnsigned) ? static_cast<std::int64_t>(id.GetUnsigned())
                                              : id.GetSigned(-1));
  }
  return ids;
}

/// The calls of the session invoke.
std::vector<HostCall> InvokeCalls(const FakeEventHost& host) {
  std::vector<HostCall> calls;
  for (const HostCall& call : host.HostCalls()) {
    if (call.path == kInvokePath) calls.push_back(call);
  }
  return calls;
}

class NotificationServiceTest : public ::testing::Test {
 protected:
  NotificationServiceTest() { host_.ClearCalls(); }

  // Stores notifications with the next ids and the given msgIds; answers their ids.
  std::vector<std::int32_t> AddNotifications(const std::vector<std::string>& msgIds) {
    std::vector<std::int32_t> ids;
    for (const std::string& msgId : msgIds) {
      Notification record;
      record.id = module_->Service().NextNotificationId();
      record.msgId = msgId;
      record.title = "t" + std::to_string(record.id);
      record.status = 1;
      module_->Service().AddNotification(record);
      ids.push_back(record.id);
    }
    return ids;
  }

  void SetAccount(std::uint64_t account) {
    Client::PlayerMessaging::Api::LoginDataPacket packet;
    packet.allVelkinData.velkin.acctId = account;
    module_->Intake().HandleLoginDataPacket("/hxa-login/v1/login-data-packet", packet);
  }

  FakeEventHost host_;
  StartedMessagingModule module_{host_};
};

TEST_F(NotificationServiceTest, RegistersTheFourEndpoints) {
  ASSERT_NE(module_.Get(), nullptr);
  std::vector<std::string> names;
  for (const auto& [name, function] : module_->EndpointRouter().Endpoints()) names.push_back(name);
  EXPECT_THAT(names, ::testing::IsSupersetOf(
                         {"GetHxaPlayerMessagingV1Notification",
                          "DeleteHxaPlayerMessagingV1NotificationByIdAcknowledge",
                          "GetHxaPlayerMessagingV1CelebrationNotification",
                          "DeleteHxaPlayerMessagingV1CelebrationNotificationByIdAcknowledge"}));
}

TEST_F(NotificationServiceTest, EmptyStoresReadAsTheEmptyRecords) {
  EXPECT_EQ(module_->Service().HeadNotification(), Notification{});
  EXPECT_EQ(module_->Service().HeadCelebration(), Celebration{});
  EXPECT_THAT(host_.Calls(), IsEmpty());
}

TEST_F(NotificationServiceTest, AddingAnnouncesTheHeadNotTheNewElement) {
  AddNotifications({"", ""});
  EXPECT_EQ(module_->Service().HeadNotification().id, 1);
  EXPECT_EQ(module_->Service().HeadNotification().title, "t1");
  EXPECT_THAT(AnnouncedIds(host_, kNotificationEvent), ElementsAre(1, 1));
  EXPECT_THAT(AnnouncedIds(host_, kCelebrationEvent), IsEmpty());
}

TEST_F(NotificationServiceTest, AcknowledgingRemovesByIdAndAnnouncesTheHeadEveryTime) {
  AddNotifications({"", "", ""});
  host_.ClearCalls();

  EXPECT_TRUE(module_->Service().AcknowledgeNotification(2).Succeeded());
  EXPECT_EQ(module_->Service().Notifications().size(), 2u);
  EXPECT_EQ(module_->Service().Notifications()[1].id, 3);
  EXPECT_TRUE(module_->Service().AcknowledgeNotification(1).Succeeded());

  // A second acknowledgement of the same id is refused but still announces.
  const MaybeType<Failure, void> again = module_->Service().AcknowledgeNotification(1);
  ASSERT_TRUE(again.Failed());
  EXPECT_EQ(again.GetFailure().code, 404);
  EXPECT_EQ(again.GetFailure().message, "Not found");

  EXPECT_THAT(AnnouncedIds(host_, kNotificationEvent), ElementsAre(1, 3, 3));
  // Notifications without a msgId are never acknowledged with the server.
  EXPECT_THAT(InvokeCalls(host_), IsEmpty());

  EXPECT_TRUE(module_->Service().AcknowledgeNotification(3).Succeeded());
  EXPECT_THAT(AnnouncedIds(host_, kNotificationEvent), ElementsAre(1, 3, 3, 0));
}

TEST_F(NotificationServiceTest, AcknowledgingAServerMessageTellsTheServerWithTheAccount) {
  SetAccount(42);
  AddNotifications({"m7"});
  host_.ClearCalls();

  EXPECT_TRUE(module_->Service().AcknowledgeNotification(1).Succeeded());
  const std::vector<HostCall> calls = InvokeCalls(host_);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_THAT(calls[0].arguments,
              ElementsAre(R"("clientFacadeService")", R"("callPersistenceMessaging")",
                          R"([{"__class":"com.kavrengames.platform.messaging.persistence.)"
                          R"(SimpleDialogMessageResponse","accountId":42,"command":"ack",)"
                          R"("msgId":"m7"}])"));
  EXPECT_THAT(AnnouncedIds(host_, kNotificationEvent), ElementsAre(0));
}

TEST_F(NotificationServiceTest, AFailedServerAcknowledgementIsA500AndTheElementStaysRemoved) {
  host_.SetResponder([](Abi::HttpResponseRecord& response, const HostCall&) {
    FakeEventHost::ReplyError(response, 502, "server away");
  });
  Celebration celebration;
  celebration.id = module_->Service().NextCelebrationId();
  celebration.msgId = "c1";
  celebration.status = 1;
  module_->Service().AddCelebration(celebration);
  host_.ClearCalls();

  const MaybeType<Failure, void> outcome = module_->Service().AcknowledgeCelebration(1);
  ASSERT_TRUE(outcome.Failed());
  EXPECT_EQ(outcome.GetFailure().code, 500);
  EXPECT_EQ(outcome.GetFailure().message,
            "Error response for POST /hxa-login/v1/session/invoke: server away");
  EXPECT_THAT(module_->Service().Celebrations(), IsEmpty());
  EXPECT_EQ(InvokeCalls(host_).size(), 1u);
  EXPECT_THAT(AnnouncedIds(host_, kCelebrationEvent), ElementsAre(0));
  EXPECT_THAT(AnnouncedIds(host_, kNotificationEvent), IsEmpty());

  // Not retried: the id is gone.
  EXPECT_EQ(module_->Service().AcknowledgeCelebration(1).GetFailure().code, 404);
  EXPECT_EQ(InvokeCalls(host_).size(), 1u);
}

TEST_F(NotificationServiceTest, CountersAreIndependentAndSurviveEmptiedStores) {
  EXPECT_EQ(module_->Service().NextNotificationId(), 1);
  EXPECT_EQ(module_->Service().NextCelebrationId(), 1);
  AddNotifications({"", "", "", "", "", ""});  // ids 2..7
  module_->Service().ClearStores();
  EXPECT_THAT(module_->Service().Notifications(), IsEmpty());
  EXPECT_THAT(AddNotifications({""}), ElementsAre(8));
  EXPECT_EQ(module_->Service().NextCelebrationId(), 2);
}

}  // namespace
}  // namespace Kavren::Testing
