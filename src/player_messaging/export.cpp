// The plugin's only export: the load entry the host calls once per load.
#include "abi/host.h"
#include "log/event_tracing.h"
#include "log/log_manager.h"
#include "player_messaging/module.h"
#include "plugin/boundary.h"
#include "plugin/entry.h"

namespace {

// The library's load and unload: a static object of the library is constructed when the
// library is loaded and destroyed when it is unloaded (or the process ends), so event
// tracing is set up before the host calls the export and released after the last call.
const Kavren::EventTracingLifetime kEventTracing(Kavren::ProcessEventTracing());

}  // namespace

extern "C" __attribute__((visibility("default"))) std::int32_t HXA_CDECL
load_hxa_player_messaging(Kavren::Abi::PluginHostRecord* record) {
  // The load's own hold on the log manager: what a failed load logs is written under it,
  // and a load that leaves no module leaves no log manager behind either.
  const Kavren::LogManagerHold logHold;
  try {
    return Kavren::LoadPlugin(record, Kavren::Client::PlayerMessaging::PlayerMessagingPlugin());
  } catch (...) {
    Kavren::ReportCurrentException(Kavren::Abi::kPluginExportName);
    return Kavren::kLoadFailed;
  }
}
