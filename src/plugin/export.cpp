// The plugin's only export.
#include "abi/host.h"

extern "C" __attribute__((visibility("default"))) std::int32_t HXA_CDECL
load_hxa_player_messaging(Kavren::Abi::PluginHostRecord* record) {
  (void)record;
  return 0;
}
