// The plugin's only export: the load entry the host calls once per load.
#include "abi/host.h"
#include "player_messaging/module.h"
#include "plugin/boundary.h"
#include "plugin/entry.h"

extern "C" __attribute__((visibility("default"))) std::int32_t HXA_CDECL
load_hxa_player_messaging(Kavren::Abi::PluginHostRecord* record) {
  try {
    return Kavren::LoadPlugin(record, Kavren::Client::PlayerMessaging::PlayerMessagingPlugin());
  } catch (...) {
    Kavren::ReportCurrentException(Kavren::Abi::kPluginExportName);
    return Kavren::kLoadFailed;
  }
}
