// The player-messaging records: login data, notifications and the server's transfer objects.
#include "player_messaging/records.h"

#include "binding/registry.h"
#include "plugin/server_class.h"

namespace Kavren::Client::PlayerMessaging {
namespace {

void AddTags(TypeBuilder& builder, const std::vector<std::string>& tags) {
  for (const std::string& tag : tags) builder.AddTag(tag.c_str());
}

// Registers a record with the module's tags and an empty description, then lets
// `describe` add its fields in declaration order.
template <class Record, class Describe>
void RegisterRecord(BindingRegistry& registry, const char* name,
                    const std::vector<std::string>& tags, Describe&& describe) {
  TypeBuilder builder = registry.RegisterStruct<Record>(name);
  builder.SetDescription("");
  describe(builder);
  AddTags(builder, tags);
}

// The message fields shared by the login data packet's messages and the server's pushes.
void AddMessageFields(TypeBuilder& builder) {
  using Api::SimpleMessage;
  builder.AddField("accountId", &SimpleMessage::accountId)
      .AddField("msgId", &SimpleMessage::msgId)
      .AddField("type", &SimpleMessage::type)
      .AddField("titleCode", &SimpleMessage::titleCode)
      .AddField("bodyCode", &SimpleMessage::bodyCode)
      .AddField("params", &SimpleMessage::params);
}

// A record of a notification store: its id and msgId, the fields `describeTexts` adds, then
// its status.
template <class Record, class DescribeTexts>
void RegisterNotificationRecord(BindingRegistry& registry, const char* name,
                                const std::vector<std::string>& tags,
                                DescribeTexts&& describeTexts) {
  RegisterRecord<Record>(registry, name, tags, [&describeTexts](TypeBuilder& builder) {
    builder.AddField("id", &Record::id).AddField("msgId", &Record::msgId);
    describeTexts(builder);
    builder.AddField("status", &Record::status);
  });
}

}  // namespace

void RegisterRecords(BindingRegistry& registry, const std::vector<std::string>& apiTags,
                     ServerClassTable& serverClasses) {
  using namespace Api;
  using namespace Qrms;

  RegisterRecord<SimpleMessage>(registry, "SimpleMessage", apiTags, AddMessageFields);
  RegisterRecord<Velkin>(registry, "Velkin", apiTags, [](TypeBuilder& builder) {
    builder.AddField("acctId", &Velkin::acctId).AddField("velId", &Velkin::velId);
  });
  RegisterRecord<AllVelkinData>(registry, "AllVelkinData", apiTags, [](TypeBuilder& builder) {
    builder.AddField("velkin", &AllVelkinData::velkin);
  });
  RegisterRecord<LoginDataPacket>(registry, "LoginDataPacket", apiTags, [](TypeBuilder& builder) {
    builder.AddField("allVelkinData", &LoginDataPacket::allVelkinData)
        .AddField("simpleMessages", &LoginDataPacket::simpleMessages);
  });
  RegisterNotificationRecord<Notification>(
      registry, "PlayerMessagingNotificationResource", apiTags, [](TypeBuilder& builder) {
        builder.AddField("title", &Notification::title).AddField("body", &Notification::body);
      });
  RegisterNotificationRecord<Celebration>(
      registry, "DynamicCelebrationMessagingNotificationResource", apiTags,
      [](TypeBuilder& builder) {
        builder.AddField("celebrationTitle", &Celebration::celebrationTitle)
            .AddField("celebrationBody", &Celebration::celebrationBody)
            .AddField("celebrationMessage", &Celebration::celebrationMessage)
            .AddField("inventoryType", &Celebration::inventoryType)
            .AddField("itemId", &Celebration::itemId)
            .AddField("itemQuantity", &Celebration::itemQuantity)
            .AddField("celebrationType", &Celebration::celebrationType);
      });

  constexpr char kMessageName[] = "QRMSPlayerMessagingSimpleMessage";
  RegisterRecord<SimpleDialogMessage>(registry, kMessageName, apiTags, AddMessageFields);
  serverClasses.Associate(kMessageName, StaticType::HashCode<SimpleDialogMessage>(),
                          kSimpleDialogMessageClass);

  constexpr char kResponseName[] = "QRMSPlayerMessagingSimpleMessageResponse";
  RegisterRecord<SimpleDialogMessageResponse>(
      registry, kResponseName, apiTags, [](TypeBuilder& builder) {
        builder.AddField("accountId", &SimpleDialogMessageResponse::accountId)
            .AddField("msgId", &SimpleDialogMessageResponse::msgId)
            .AddField("command", &SimpleDialogMessageResponse::command);
      });
  serverClasses.Associate(kResponseName, StaticType::HashCode<SimpleDialogMessageResponse>(),
                          kSimpleDialogMessageResponseClass);
}

}  // namespace Kavren::Client::PlayerMessaging
