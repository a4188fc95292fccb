// The API block the real plugin hands over at load, walked as a host reads it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "abi/api_block.h"
#include "abi/plugin.h"
#include "host/core/development_host.h"
#include "support/built_plugin.h"

namespace Kavren::Host {
namespace {

using ::testing::Contains;
using ::testing::IsSupersetOf;

class ApiBlockE2e : public Testing::BuiltPluginTest {};

TEST_F(ApiBlockE2e, DescribesTheBuiltInFrameworkAndPlayerMessagingTypes) {
  DevelopmentHost host;
  ASSERT_TRUE(Load(host));
  const Abi::PluginApiBlock* block = host.Record().api;
  ASSERT_NE(block, nullptr);

  // Fields of the packed records are copied out, never bound by reference.
  std::vector<std::string> types;
  std::vector<std::string> tagsOfLoginDataPacket;
  const std::uint32_t typeCount = block->typeCount;
  for (const Abi::ApiTypeRecord* type = block->types; type != nullptr; type = type->next) {
    types.push_back(std::string(type->name));
    if (types.back() == "LoginDataPacket") {
      for (std::uint32_t i = 0; i < type->tagCount; ++i) {
        tagsOfLoginDataPacket.push_back(std::string(type->tags[i]));
      }
    }
  }
  EXPECT_EQ(types.size(), typeCount);
  EXPECT_THAT(types, IsSupersetOf({"BindingAsyncState", "BindingCallbackEvent",
                                   "BindingFullApiHelp", "PluginResourceEvent", "PluginQrmsEvent",
                                   "LoginDataPacket", "QRMSPlayerMessagingSimpleMessage",
                                   "QRMSPlayerMessagingSimpleMessageResponse"}));
  EXPECT_EQ(tagsOfLoginDataPacket,
            (std::vector<std::string>{"Plugins", "Plugin hxa-player-messaging"}));

  std::vector<std::string> events;
  for (const Abi::ApiEventRecord* event = block->events; event != nullptr; event = event->next) {
    events.push_back(std::string(event->name));
  }
  EXPECT_EQ(events.size(), block->eventCount);
  EXPECT_THAT(events, IsSupersetOf({"OnCallback", "OnJsonApiEvent", "OnQrmsEvent",
                                    "OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent",
                                    "OnServiceProxyAsyncEvent"}));
  host.Stop();
}

}  // namespace
}  // namespace Kavren::Host
