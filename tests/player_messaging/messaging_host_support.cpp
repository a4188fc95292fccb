// The recording host of the player-messaging tests.
#include "messaging_host_support.h"

#include "plugin/entry.h"

namespace Kavren::Testing {

StartedMessagingModule::StartedMessagingModule(FakeEventHost& host) {
  static const PluginDefinition definition = Client::PlayerMessaging::PlayerMessagingPlugin();
  record_.major = 18;
  if (LoadPlugin(&record_, definition) != kLoadSucceeded) return;
  module_ = static_cast<Client::PlayerMessaging::PlayerMessagingModule*>(record_.context);
  if (!record_.functions->Start(record_.context, host.Interface())) module_ = nullptr;
}

StartedMessagingModule::~StartedMessagingModule() {
  if (record_.functions != nullptr) record_.functions->Stop(record_.context);
}

}  // namespace Kavren::Testing
