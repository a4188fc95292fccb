// Tests of the player-messaging records: registration, conversion and JSON round trips.
#include "player_messaging/records.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "binding/convert.h"
#include "binding/registry.h"
#include "formats/json.h"
#include "http/typed_result.h"
#include "plugin/server_class.h"
#include "support/help_reply.h"

namespace Kavren::Client::PlayerMessaging {
namespace {

class RecordsTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterRecords(registry_, tags_, classes_); }

  template <class Record>
  Record FromJson(const char* json, std::string* error = nullptr) {
    BindingResult parsed = ReadJson(json);
    EXPECT_TRUE(parsed.ok) << parsed.ErrorText();
    BindingResult status;
    Record record;
    FromValue(status, record, parsed.value, "<value>", registry_);
    if (error != nullptr) {
      *error = status.ErrorText();
    } else {
      EXPECT_TRUE(status.ok) << status.ErrorText();
    }
    return record;
  }

  template <class Record>
  std::string ToJson(const Record& record) {
    MaybeType<Failure, BindingProperty> value = ToValue(record, registry_);
    EXPECT_TRUE(value);
    return value ? WriteJson(value.Value(), &registry_) : std::string();
  }

  // A record reads from "{}" when none of its fields is required, and its default writes
  // every field when none is omitted while empty.
  template <class Record>
  void ExpectNothingRequiredOrOmitted() {
    EXPECT_EQ(FromJson<Record>("{}"), Record{});
    MaybeType<Failure, BindingProperty> value = ToValue(Record{}, registry_);
    ASSERT_TRUE(value);
    EXPECT_EQ(value.Value().Size(),
              registry_.FindType(StaticType::HashCode<Record>())->fields.size())
        << WriteJson(value.Value());
  }

  template <class Record>
  void ExpectRoundTrip(const Record& record) {
    const std::string json = ToJson(record);
    EXPECT_EQ(FromJson<Record>(json.c_str()), record) << json;
  }

  BindingRegistry registry_;
  ServerClassTable classes_;
  const std::vector<std::string> tags_{"Plugins", "Plugin hxa-player-messaging"};
};

// Each record as the host reads it from the builtin Help reply (its fields in order with
// their kinds, the plugin's tags, no description and nothing optional), and as it reads and
// writes members: none required, none left out.
TEST_F(RecordsTest, TheHelpReplyDescribesEveryRecord) {
  const Testing::HelpReply help(registry_);
  const std::string message =
      "(accountId:uint64, msgId:string, type:string, titleCode:string, bodyCode:string, "
      "params:vector<string>)";
  const std::string tags = " [Plugins, Plugin hxa-player-messaging]";
  const std::pair<const char*, std::string> records[] = {
      {"SimpleMessage", message},
      {"Velkin", "(acctId:uint64, velId:uint64)"},
      {"AllVelkinData", "(velkin:Velkin)"},
      {"LoginDataPacket", "(allVelkinData:AllVelkinData, simpleMessages:vector<SimpleMessage>)"},
      {"PlayerMessagingNotificationResource",
       "(id:int32, msgId:string, title:string, body:string, status:int32)"},
      {"DynamicCelebrationMessagingNotificationResource",
       "(id:int32, msgId:string, celebrationTitle:string, celebrationBody:string, "
       "celebrationMessage:string, inventoryType:string, itemId:string, itemQuantity:string, "
       "celebrationType:string, status:int32)"},
      {"QRMSPlayerMessagingSimpleMessage", message},
      {"QRMSPlayerMessagingSimpleMessageResponse",
       "(accountId:uint64, msgId:string, command:string)"},
  };
  for (const auto& [name, fields] : records) {
    EXPECT_EQ(help.Type(name), name + fields + tags);
  }
  ExpectNothingRequiredOrOmitted<Api::SimpleMessage>();
  ExpectNothingRequiredOrOmitted<Api::Velkin>();
  ExpectNothingRequiredOrOmitted<Api::AllVelkinData>();
  ExpectNothingRequiredOrOmitted<Api::LoginDataPacket>();
  ExpectNothingRequiredOrOmitted<Api::PlayerMessagingNotificationResource>();
  ExpectNothingRequiredOrOmitted<Api::DynamicCelebrationMessagingNotificationResource>();
  ExpectNothingRequiredOrOmitted<Qrms::SimpleDialogMessage>();
  ExpectNothingRequiredOrOmitted<Qrms::SimpleDialogMessageResponse>();
  // The server's record is known by the name the host reads.
  EXPECT_EQ(registry_.FindType(StaticType::HashCode<Qrms::SimpleDialogMessage>())->name,
            "QRMSPlayerMessagingSimpleMessage");
}

// The notification records and the pushed message share their leading fields with
// another type, yet the host sees each laid out as the flat record it describes.
TEST_F(RecordsTest, FieldsSitWhereAFlatRecordHasThem) {
  auto offsets = [this](const char* name) {
    std::vector<std::uint32_t> found;
    for (const FieldDescriptor& field : registry_.FindType(name)->fields) {
      found.push_back(field.offset);
    }
    return found;
  };
  // id, msgId, then texts one after the other and the status.
  auto notificationLayout = [](std::uint32_t texts) {
    constexpr std::uint32_t kText = sizeof(std::string);
    std::vector<std::uint32_t> expected = {0};
    for (std::uint32_t text = 0; text <= texts + 1; ++text) {
      expected.push_back(alignof(std::string) + text * kText);
    }
    return expected;
  };
  EXPECT_EQ(offsets("PlayerMessagingNotificationResource"), notificationLayout(2));
  EXPECT_EQ(offsets("DynamicCelebrationMessagingNotificationResource"), notificationLayout(7));
  EXPECT_EQ(offsets("QRMSPlayerMessagingSimpleMessage"), offsets("SimpleMessage"));
  EXPECT_EQ(sizeof(Qrms::SimpleDialogMessage), sizeof(Api::SimpleMessage));
}

TEST_F(RecordsTest, AssociatesOnlyTheServerRecordsWithTheirClasses) {
  EXPECT_EQ(classes_.ClassForName("QRMSPlayerMessagingSimpleMessage"),
            "com.kavrengames.platform.messaging.persistence.SimpleDialogMessage");
  EXPECT_EQ(classes_.ClassForType(StaticType::HashCode<Qrms::SimpleDialogMessage>()),
            "com.kavrengames.platform.messaging.persistence.SimpleDialogMessage");
  EXPECT_EQ(classes_.ClassForName("QRMSPlayerMessagingSimpleMessageResponse"),
            "com.kavrengames.platform.messaging.persistence.SimpleDialogMessageResponse");
  EXPECT_EQ(classes_.ClassForType(StaticType::HashCode<Qrms::SimpleDialogMessageResponse>()),
            "com.kavrengames.platform.messaging.persistence.SimpleDialogMessageResponse");
  EXPECT_EQ(classes_.ClassForName("SimpleMessage"), std::nullopt);
  EXPECT_EQ(classes_.ClassForType(StaticType::HashCode<Api::LoginDataPacket>()), std::nullopt);
}

TEST_F(RecordsTest, LoginDataPacketWithoutMembersKeepsDefaults) {
  const Api::LoginDataPacket noMessages =
      FromJson<Api::LoginDataPacket>(R"({"allVelkinData":{"velkin":{"acctId":77,"velId":5}}})");
  EXPECT_EQ(noMessages.allVelkinData.velkin.acctId, 77u);
  EXPECT_TRUE(noMessages.simpleMessages.empty());

  const Api::LoginDataPacket noPlayer = FromJson<Api::LoginDataPacket>(
      R"({"simpleMessages":[{"msgId":"m1","type":"pss-player-message","params":["a"]}]})");
  EXPECT_EQ(noPlayer.allVelkinData.velkin.acctId, 0u);
  ASSERT_EQ(noPlayer.simpleMessages.size(), 1u);
  EXPECT_EQ(noPlayer.simpleMessages[0].msgId, "m1");
  EXPECT_EQ(noPlayer.simpleMessages[0].params, std::vector<std::string>{"a"});
}

TEST_F(RecordsTest, WrongMemberKindsAreRefusedWithTheFieldName) {
  struct Case {
    const char* json;
    const char* error;
  };
  const Case celebrations[] = {
      {R"({"itemId":5})", "Couldn't assign value to 'itemId' because the input is not a string."},
      {R"({"itemQuantity":2.5})",
       "Couldn't assign value to 'itemQuantity' because the input is not a string."},
  };
  for (const Case& row : celebrations) {
    std::string error;
    FromJson<Api::DynamicCelebrationMessagingNotificationResource>(row.json, &error);
    EXPECT_EQ(error, row.error) << row.json;
  }
  std::string error;
  FromJson<Qrms::SimpleDialogMessage>(R"({"msgId":12})", &error);
  EXPECT_EQ(error, "Couldn't assign value to 'msgId' because the input is not a string.");
  FromJson<Api::LoginDataPacket>(R"({"simpleMessages":{"msgId":"m"}})", &error);
  EXPECT_EQ(error,
            "Couldn't assign value to 'simpleMessages' of type vector because the input not a "
            "collection.");
}

TEST_F(RecordsTest, ResponseValueHasExactlyItsThreeMembers) {
  Qrms::SimpleDialogMessageResponse response{42, "m-7", "ack"};
  MaybeType<Failure, BindingProperty> converted = ToValue(response, registry_);
  ASSERT_TRUE(converted);
  BindingProperty& value = converted.Value();
  EXPECT_EQ(WriteJson(value), R"({"accountId":42,"command":"ack","msgId":"m-7"})");

  // Tagged for a server call it gains its class, which converting back ignores.
  TagServerClass(value,
                 *registry_.FindType(StaticType::HashCode<Qrms::SimpleDialogMessageResponse>()),
                 classes_);
  EXPECT_EQ(WriteJson(value),
            R"({"__class":"com.kavrengames.platform.messaging.persistence.)"
            R"(SimpleDialogMessageResponse","accountId":42,"command":"ack","msgId":"m-7"})");
  BindingResult status;
  Qrms::SimpleDialogMessageResponse back;
  FromValue(status, back, value, "<value>", registry_);
  ASSERT_TRUE(status.ok) << status.ErrorText();
  EXPECT_EQ(back, response);
}

TEST_F(RecordsTest, EveryRecordRoundTripsThroughJson) {
  constexpr std::uint64_t kLargest = ~std::uint64_t{0};
  const Api::SimpleMessage message{kLargest, "m", "dynamic-celebration",
                                   "T",      "B", {"kind", "msg", "inv", "5", "1"}};
  ExpectRoundTrip(message);
  ExpectRoundTrip(Api::Velkin{1, 2});
  ExpectRoundTrip(Api::AllVelkinData{{3, 4}});
  ExpectRoundTrip(Api::LoginDataPacket{{{5, 6}}, {message, Api::SimpleMessage{}}});
  ExpectRoundTrip(Api::PlayerMessagingNotificationResource{1, "m", "title", "body \"q\"\n", 1});
  const Api::DynamicCelebrationMessagingNotificationResource celebration{
      -2, "m", "ct", "cb", "cm", "inv", "5", "10", "type", 1};
  ExpectRoundTrip(celebration);
  // Item and quantity are served as texts, never as numbers.
  EXPECT_NE(ToJson(celebration).find(R"("itemId":"5","itemQuantity":"10")"), std::string::npos);
  ExpectRoundTrip(Qrms::SimpleDialogMessage{9, "m", "pss-player-message", "t", "b", {}});
  ExpectRoundTrip(Qrms::SimpleDialogMessageResponse{9, "m", "ack"});
  ExpectRoundTrip(Api::PlayerMessagingNotificationResource{});
}

// The plugin's three named types take their identities from the name signature, as the
// framework's do; the codes are the ones the host knows them by.
TEST(RecordIdentityTest, NamedRecordsUseTheNameSignature) {
  struct Row {
    const TypeIdentity* identity;
    const char* name;
    std::uint32_t code;
  };
  const Row rows[] = {
      {StaticType::HashCode<Api::LoginDataPacket>(),
       "const char *__cdecl StaticType::Name<struct "
       "Kavren::Client::PlayerMessaging::Api::LoginDataPacket>(void)",
       0xECC8B2BDu},
      {StaticType::HashCode<RemotingTypedResult<Api::PlayerMessagingNotificationResource>>(),
       "const char *__cdecl StaticType::Name<class Kavren::RemotingTypedResult<struct "
       "Kavren::Client::PlayerMessaging::Api::PlayerMessagingNotificationResource>>(void)",
       0xD3A462D3u},
      {StaticType::HashCode<
           RemotingTypedResult<Api::DynamicCelebrationMessagingNotificationResource>>(),
       "const char *__cdecl StaticType::Name<class Kavren::RemotingTypedResult<struct "
       "Kavren::Client::PlayerMessaging::Api::DynamicCelebrationMessagingNotificationResource>>("
       "void)",
       HashText("unsigned int __cdecl StaticType::HashCode<class Kavren::RemotingTypedResult<"
                "struct Kavren::Client::PlayerMessaging::Api::"
                "DynamicCelebrationMessagingNotificationResource>>(void)")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_STREQ(row.identity->name, row.name);
    EXPECT_EQ(row.identity->hashCode, row.code);
  }
}

}  // namespace
}  // namespace Kavren::Client::PlayerMessaging
