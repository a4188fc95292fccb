// The message intake: the login data packet at start and on change, pushed server
// messages, and the records built from a message's parameters.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/log.h"
#include "messaging_host_support.h"
#include "player_messaging/module.h"

namespace Kavren::Testing {
namespace {

using Client::PlayerMessaging::Celebration;
using Client::PlayerMessaging::Notification;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kPacketUri[] = "/hxa-login/v1/login-data-packet";
constexpr char kPacketEvent[] = "OnJsonApiEvent_hxa-login_v1_login-data-packet";
constexpr char kMessageEvent[] =
    "OnQrmsEvent_com_kavrengames_platform_messaging_persistence_SimpleDialogMessage";
constexpr char kParameterError[] =
    "hxa-player-messaging: Dynamic Celebration parameter error.  Check platform for validation "
    "log";

// A message of the packet or a push as JSON; `params` is a JSON array text.
std::string MessageJson(const std::string& msgId, const std::string& type,
                        const std::string& params) {
  return R"({"accountId":9,"msgId":")" + msgId + R"(","type":")" + type +
         R"(","titleCode":"TC","bodyCode":"BC","params":)" + params + "}";
}

std::string PacketJson(std::uint64_t account, const std::vector<std::string>& messages) {
  std::string list;
  for (const std::string& message : messages) list += (list.empty() ? "" : ",") + message;
  return R"({"allVelkinData":{"velkin":{"acctId":)" + std::to_string(account) +
         R"(,"velId":3}},"simpleMessages":[)" + list + "]}";
}

const std::string kThreeMessages = PacketJson(
    42, {MessageJson("m1", "pss-player-message", R"(["{\"title\":\"T\",\"message\":\"B\"}"])"),
         MessageJson("m2", "other-type", R"(["{}"])"),
         MessageJson("m3", "dynamic-celebration", R"(["type","msg","inv","item","2"])")});

std::size_t CountCalls(const FakeEventHost& host, const std::string& prefix) {
  std::size_t count = 0;
  for (const std::string& call : host.Calls()) count += call.rfind(prefix, 0) == 0 ? 1 : 0;
  return count;
}

class IntakeTest : public ::testing::Test {
 protected:
  IntakeTest() {
    host_.SetResponder([this](Abi::HttpResponseRecord& response, const HostCall& call) {
      if (call.path == kPacketUri && !packet_.empty()) FakeEventHost::ReplyJson(response, packet_);
    });
  }

  std::size_t LogCount(const std::string& message) const {
    std::size_t count = 0;
    for (const auto& [level, text] : host_.Logs()) {
      if (text.find(message) != std::string::npos) {
        EXPECT_EQ(level, kLogLevelError);
        ++count;
      }
    }
    return count;
  }

  FakeEventHost host_;
  std::string packet_;
};

TEST_F(IntakeTest, ThePacketIsReadAtStartAndItsMessagesBecomeNotifications) {
  packet_ = kThreeMessages;
  StartedMessagingModule module(host_);
  ASSERT_NE(module.Get(), nullptr);
  EXPECT_EQ(module->Service().AccountId(), 42u);

  Notification notification;
  notification.id = 1;
  notification.msgId = "m1";
  notification.title = "T";
  notification.body = "B";
  notification.status = 1;
  EXPECT_THAT(module->Service().Notifications(), ElementsAre(notification));

  Celebration celebration;
  celebration.id = 1;
  celebration.msgId = "m3";
  celebration.celebrationTitle = "TC";
  celebration.celebrationBody = "BC";
  celebration.celebrationType = "type";
  celebration.celebrationMessage = "msg";
  celebration.inventoryType = "inv";
  celebration.itemId = "item";
  celebration.itemQuantity = "2";
  celebration.status = 1;
  EXPECT_THAT(module->Service().Celebrations(), ElementsAre(celebration));

  EXPECT_EQ(CountCalls(host_, "Publish OnJsonApiEvent_hxa-player-messaging_v1_notification "), 1u);
  EXPECT_EQ(CountCalls(host_, "Publish OnJsonApiEvent_hxa-player-messaging_v1_celebration "), 1u);
}

TEST_F(IntakeTest, EveryDeliveryOfThePacketReplacesTheStoresWithNewIds) {
  packet_ = kThreeMessages;
  StartedMessagingModule module(host_);
  const std::string update = R"({"uri":"/hxa-login/v1/login-data-packet","eventType":"Update",)"
                             R"("data":)" +
                             kThreeMessages + "}";
  ASSERT_TRUE(host_.Deliver(kPacketEvent, update));
  ASSERT_EQ(module->Service().Notifications().size(), 1u);
  EXPECT_EQ(module->Service().Notifications()[0].id, 2);
  ASSERT_EQ(module->Service().Celebrations().size(), 1u);
  EXPECT_EQ(module->Service().Celebrations()[0].id, 2);

  // A deleted packet arrives empty: the stores are emptied and the account forgotten.
  ASSERT_TRUE(host_.Deliver(kPacketEvent, R"({"uri":"/hxa-login/v1/login-data-packet",)"
                                          R"("eventType":"Delete","data":{}})"));
  EXPECT_THAT(module->Service().Notifications(), IsEmpty());
  EXPECT_THAT(module->Service().Celebrations(), IsEmpty());
  EXPECT_EQ(module->Service().AccountId(), 0u);
}

TEST_F(IntakeTest, APushedMessageIsAddedInAJobAndKeepsTheAccountOfThePacket) {
  packet_ = PacketJson(42, {});
  StartedMessagingModule module(host_);
  host_.ClearCalls();
  const std::string push =
      R"({"clientId":"c","subtopic":"s","typeName":"com.kavrengames.platform.messaging.)"
      R"(persistence.SimpleDialogMessage","body":)" +
      MessageJson("p1", "pss-player-message", R"(["{\"title\":\"Hi\"}"])") + "}";
  ASSERT_TRUE(host_.Deliver(kMessageEvent, push));
  ASSERT_EQ(host_.Jobs().size(), 1u);
  host_.RunJob(0);
  ASSERT_EQ(module->Service().Notifications().size(), 1u);
  EXPECT_EQ(module->Service().Notifications()[0].msgId, "p1");
  EXPECT_EQ(module->Service().Notifications()[0].title, "Hi");
  EXPECT_EQ(module->Service().AccountId(), 42u);

  EXPECT_TRUE(module->Service().AcknowledgeNotification(1).Succeeded());
  const HostCall ack = host_.HostCalls().back();
  EXPECT_EQ(ack.path, "/hxa-login/v1/session/invoke");
  ASSERT_EQ(ack.arguments.size(), 3u);
  EXPECT_NE(ack.arguments[2].find(R"("accountId":42,)"), std::string::npos);
  EXPECT_NE(ack.arguments[2].find(R"("msgId":"p1")"), std::string::npos);
}

TEST_F(IntakeTest, NotificationFromParamsTakesAnIdForEveryParameterThatReads) {
  StartedMessagingModule module(host_);
  struct Case {
    const char* label;
    std::vector<std::string> params;
    std::int32_t idsTaken;
    const char* title;
    const char* body;
    std::int32_t status;
  };
  const Case cases[] = {
      {"string members", {R"({"title":"T","message":"M"})"}, 1, "T", "M", 1},
      {"title a number, no message", {R"({"title":5})"}, 1, "", "", 1},
      {"invalid then empty object", {"not json", "{}"}, 1, "", "", 1},
      {"last parse wins", {R"({"title":"A"})", R"({"message":"B"})"}, 2, "", "B", 1},
      {"a scalar counts", {"5"}, 1, "", "", 1},
      {"nothing parses", {"{", "x"}, 0, "", "", 0},
      {"no parameters", {}, 0, "", "", 0},
  };
  std::int32_t last = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const Notification record = module->Intake().NotificationFromParams(c.params);
    last += c.idsTaken;
    EXPECT_EQ(record.id, c.status == 1 ? last : 0);
    EXPECT_EQ(record.title, c.title);
    EXPECT_EQ(record.body, c.body);
    EXPECT_EQ(record.status, c.status);
    EXPECT_EQ(record.msgId, "");
  }
  EXPECT_EQ(module->Service().NextNotificationId(), last + 1);
}

TEST_F(IntakeTest, ACelebrationNeedsExactlyFiveParameters) {
  packet_ = PacketJson(1, {MessageJson("c4", "dynamic-celebration", R"(["a","b","c","d"])"),
                           MessageJson("c6", "dynamic-celebration", R"(["a","b","c","d","e","f"])"),
                           MessageJson("n1", "pss-player-message", R"(["{}"])"),
                           MessageJson("c5", "dynamic-celebration", R"(["a","b","c","d","e"])")});
  StartedMessagingModule module(host_);
  EXPECT_EQ(LogCount(kParameterError), 2u);
  // The wrong ones are skipped without taking ids or stopping the messages after them.
  ASSERT_EQ(module->Service().Celebrations().size(), 1u);
  EXPECT_EQ(module->Service().Celebrations()[0].id, 1);
  EXPECT_EQ(module->Service().Celebrations()[0].msgId, "c5");
  EXPECT_EQ(module->Service().Notifications().size(), 1u);
}

}  // namespace
}  // namespace Kavren::Testing
