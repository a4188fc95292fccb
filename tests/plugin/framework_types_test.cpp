// Tests of the framework's "zclient" records, enumerations and events.
#include "plugin/framework_types.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "binding/convert.h"
#include "binding/registry.h"
#include "formats/json.h"

namespace Kavren {
namespace {

using FieldList = std::vector<std::pair<std::string, std::string>>;

// Each field as (key, type text as the API help shows it), in registration order.
FieldList Fields(const TypeDescriptor* type) {
  FieldList fields;
  for (const FieldDescriptor& field : type->fields) {
    fields.emplace_back(field.name, TypeRefText(field.type));
  }
  return fields;
}

class FrameworkTypesTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterPluginManagerTypes(registry_, tags_); }

  BindingRegistry registry_;
  const std::vector<std::string> tags_{"Plugins", "Plugin hxa-player-messaging"};
};

TEST_F(FrameworkTypesTest, RegistersRecordsWithTheirFieldsInOrder) {
  const std::pair<const char*, FieldList> records[] = {
      {"PluginManagerResource", {{"state", "PluginManagerState"}}},
      {"PluginResourceEvent",
       {{"uri", "string"}, {"eventType", "PluginResourceEventType"}, {"data", "object"}}},
      {"PluginQrmsEvent",
       {{"clientId", "string"},
        {"subtopic", "string"},
        {"typeName", "string"},
        {"body", "object"}}},
      {"PluginQrmsResponse", {{"typeName", "string"}, {"body", "object"}}},
      {"PluginServiceProxyResponse",
       {{"uuid", "string"},
        {"serviceName", "string"},
        {"methodName", "string"},
        {"payload", "string"},
        {"status", "string"},
        {"error", "string"}}},
  };
  for (const auto& [name, fields] : records) {
    const TypeDescriptor* type = registry_.FindType(name);
    ASSERT_NE(type, nullptr) << name;
    EXPECT_FALSE(type->isEnum) << name;
    EXPECT_EQ(Fields(type), fields) << name;
    EXPECT_EQ(type->tags, tags_) << name;
    EXPECT_EQ(type->nameSpace, "") << name;
  }
}

TEST_F(FrameworkTypesTest, RegistersEnumerationsWithTheirValues) {
  const std::pair<const char*, std::vector<std::pair<std::string, std::int32_t>>> enums[] = {
      {"PluginManagerState", {{"NotReady", 0}, {"PluginsInitialized", 1}}},
      {"PluginResourceEventType", {{"Create", 0}, {"Delete", 2}, {"Update", 1}}},
  };
  for (const auto& [name, values] : enums) {
    const TypeDescriptor* type = registry_.FindType(name);
    ASSERT_NE(type, nullptr) << name;
    EXPECT_TRUE(type->isEnum) << name;
    EXPECT_EQ(type->size, 4u) << name;
    std::vector<std::pair<std::string, std::int32_t>> registered;
    for (const auto& [valueName, value] : type->values)
      registered.emplace_back(valueName, value.value);
    EXPECT_EQ(registered, values) << name;
    EXPECT_EQ(type->tags, tags_) << name;
  }
}

TEST_F(FrameworkTypesTest, RegistersTheFiveEventsInTheFrameworkNameSpace) {
  struct EventCase {
    const char* name;
    const char* payload;
    const char* description;
  };
  const EventCase events[] = {
      {"OnJsonApiEvent", "PluginResourceEvent", "Fired when a resource is changed."},
      {"OnQrmsEvent", "PluginQrmsEvent",
       "Fired when a message is received over the QRMS connection."},
      {"OnServiceProxyUuidEvent", "PluginServiceProxyResponse",
       "Fired when a uuid-based service proxy message is received."},
      {"OnServiceProxyMethodEvent", "PluginServiceProxyResponse",
       "Fired when a method-based service proxy message is received."},
      {"OnServiceProxyAsyncEvent", "PluginServiceProxyResponse",
       "Fired when an async service proxy message is received."},
  };
  for (const EventCase& row : events) {
    const EventRecord* event = registry_.FindEvent(row.name);
    ASSERT_NE(event, nullptr) << row.name;
    ASSERT_NE(event->payload, nullptr) << row.name;
    EXPECT_EQ(event->payload->name, row.payload);
    EXPECT_EQ(event->nameSpace, "zclient");
    EXPECT_EQ(event->description, row.description);
  }
  EXPECT_EQ(registry_.EventsSnapshot().size(), 5u);
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
