// Tests of the framework's "zclient" records, enumerations and events.
#include "plugin/framework_types.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "binding/convert.h"
#include "binding/registry.h"
#include "formats/json.h"
#include "support/help_reply.h"

namespace Kavren {
namespace {

class FrameworkTypesTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterPluginManagerTypes(registry_, tags_); }

  BindingRegistry registry_;
  const std::vector<std::string> tags_{"Plugins", "Plugin hxa-player-messaging"};
};

// The framework's records and enumerations as the host reads them from the builtin Help
// reply: fields in order with their kinds, values by name, the plugin's tags.
TEST_F(FrameworkTypesTest, TheHelpReplyDescribesRecordsAndEnumerations) {
  const Testing::HelpReply help(registry_);
  const std::string tags = " [Plugins, Plugin hxa-player-messaging]";
  const std::pair<const char*, const char*> types[] = {
      {"PluginManagerResource", "(state:PluginManagerState)"},
      {"PluginResourceEvent", "(uri:string, eventType:PluginResourceEventType, data:object)"},
      {"PluginQrmsEvent", "(clientId:string, subtopic:string, typeName:string, body:object)"},
      {"PluginQrmsResponse", "(typeName:string, body:object)"},
      {"PluginServiceProxyResponse",
       "(uuid:string, serviceName:string, methodName:string, payload:string, status:string, "
       "error:string)"},
      {"PluginManagerState", "{NotReady=0, PluginsInitialized=1} size 4"},
      {"PluginResourceEventType", "{Create=0, Delete=2, Update=1} size 4"},
  };
  for (const auto& [name, described] : types) {
    EXPECT_EQ(help.Type(name), name + std::string(described) + tags);
  }
}

TEST_F(FrameworkTypesTest, TheHelpReplyDescribesTheFiveEventsInTheFrameworkNameSpace) {
  const Testing::HelpReply help(registry_);
  const std::pair<const char*, const char*> events[] = {
      {"OnJsonApiEvent", "(PluginResourceEvent) \"Fired when a resource is changed.\""},
      {"OnQrmsEvent",
       "(PluginQrmsEvent) \"Fired when a message is received over the QRMS connection.\""},
      {"OnServiceProxyUuidEvent",
       "(PluginServiceProxyResponse) \"Fired when a uuid-based service proxy message is "
       "received.\""},
      {"OnServiceProxyMethodEvent",
       "(PluginServiceProxyResponse) \"Fired when a method-based service proxy message is "
       "received.\""},
      {"OnServiceProxyAsyncEvent",
       "(PluginServiceProxyResponse) \"Fired when an async service proxy message is "
       "received.\""},
  };
  for (const auto& [name, described] : events) {
    EXPECT_EQ(help.Event(name), "zclient." + std::string(name) + described);
  }
  EXPECT_EQ(help.EventCount(), 5u);
}

TEST_F(FrameworkTypesTest, ResourceEventRoundTripsThroughJson) {
  PluginResourceEvent event;
  event.uri = "/hxa-player-messaging/v1/notification";
  event.eventType = PluginResourceEventType::kUpdate;
  event.data.Member("id").SetSigned(3);
  MaybeType<Failure, BindingProperty> converted = ToValue(event, registry_);
  ASSERT_TRUE(converted);
  const BindingProperty& value = converted.Value();
  const std::string json = WriteJson(value, &registry_);
  EXPECT_EQ(
      json,
      R"({"data":{"id":3},"eventType":"Update","uri":"/hxa-player-messaging/v1/notification"})");

  BindingResult parsed = ReadJson(json);
  ASSERT_TRUE(parsed.ok) << parsed.ErrorText();
  BindingResult status;
  PluginResourceEvent back;
  FromValue(status, back, parsed.value, "<result>", registry_);
  ASSERT_TRUE(status.ok) << status.ErrorText();
  EXPECT_EQ(back.uri, event.uri);
  EXPECT_EQ(back.eventType, PluginResourceEventType::kUpdate);
  EXPECT_EQ(WriteJson(back.data), R"({"id":3})");
}

}  // namespace
}  // namespace Kavren
