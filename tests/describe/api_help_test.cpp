// The host's rendering of the API help from the API block, held against the plugin's own
// help provider over the same registry.
#include "host/describe/api_help.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "formats/help.h"
#include "formats/json.h"
#include "player_messaging/module.h"
#include "plugin/entry.h"

namespace Kavren::Host {
namespace {

// The real plugin loaded in-process (never started): its registry and its API block.
class LoadedPlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    static const PluginDefinition definition = Client::PlayerMessaging::PlayerMessagingPlugin();
    record_.major = 18;
    ASSERT_EQ(LoadPlugin(&record_, definition), kLoadSucceeded);
    module_ = static_cast<AppModule*>(record_.context);
  }
  void TearDown() override {
    if (record_.functions != nullptr) record_.functions->Stop(record_.context);
  }

  // The provider's answer in `format`, read back as a JSON document.
  rapidjson::Document ProviderAnswer(BindingHelpProvider::HelpFormat format) const {
    const BindingRegistry& registry = module_->Registry();
    BindingProperty out;
    BindingHelpProvider::DescribeApi(out, registry.FunctionsSnapshot(), registry.TypesSnapshot(),
                                     registry.EventsSnapshot(), format, registry);
    rapidjson::Document document;
    document.Parse(WriteJson(out, &registry).c_str());
    return document;
  }

  Abi::PluginHostRecord record_{};
  AppModule* module_ = nullptr;
};

TEST_F(LoadedPlugin, BothHelpFormsEqualTheProvidersAnswer) {
  const ApiDescription api = ReadApiDescription(record_.api);
  ASSERT_EQ(api.endpoints.size(), 4u);

  rapidjson::Document native;
  NativeHelp(api, native);
  const rapidjson::Document expectedNative = ProviderAnswer(BindingHelpProvider::HelpFormat::kFull);
  ASSERT_FALSE(expectedNative.HasParseError());
  // Members compare regardless of order; lists in order.
  EXPECT_TRUE(native == expectedNative) << "host:\n"
                                        << JsonText(native) << "\nplugin:\n"
                                        << JsonText(expectedNative);

  rapidjson::Document epytext;
  EpytextHelp(api, epytext);
  const rapidjson::Document expectedEpytext =
      ProviderAnswer(BindingHelpProvider::HelpFormat::kEpytext);
  EXPECT_TRUE(epytext == expectedEpytext) << "host:\n"
                                          << JsonText(epytext) << "\nplugin:\n"
                                          << JsonText(expectedEpytext);
}

}  // namespace
}  // namespace Kavren::Host
