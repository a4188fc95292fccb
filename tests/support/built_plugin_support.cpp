// The built plugin's library, opened once per suite, and loaded and started in a host.
#include "support/built_plugin.h"
#include "support/host_outcome.h"

namespace Kavren::Host::Testing {

void BuiltPluginTest::SetUpTestSuite() {
  library_ = new PluginLibrary();
  ASSERT_TRUE(Succeeded(library_->Open(HXA_PLUGIN_PATH)));
}

void BuiltPluginTest::TearDownTestSuite() {
  delete library_;
  library_ = nullptr;
}

::testing::AssertionResult BuiltPluginTest::Load(DevelopmentHost& host, CoreVersion version) {
  if (host.Load(Library(), version)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the built plugin did not load";
}

::testing::AssertionResult BuiltPluginTest::LoadAndStart(DevelopmentHost& host,
                                                         const rapidjson::Value* packet,
                                                         CoreVersion version) {
  if (auto loaded = Load(host, version); !loaded) return loaded;
  if (packet != nullptr) {
    const auto set = host.SetLoginDataPacket(*packet);
    if (set.Failed()) {
      return ::testing::AssertionFailure()
             << "the login data packet was refused: " << set.GetFailure().message;
    }
  }
  if (!host.Start()) return ::testing::AssertionFailure() << "the built plugin did not start";
  return ::testing::AssertionSuccess();
}

}  // namespace Kavren::Host::Testing
