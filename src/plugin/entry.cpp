// The plugin entry's load sequence.
#include "plugin/entry.h"

#include <cstring>
#include <memory>

#include "log/assertion.h"
#include "plugin/api_version.h"
#include "plugin/boundary.h"
#include "plugin/messages.h"
#include "util/accounting.h"
#include "util/format.h"
#include "util/system_info.h"

namespace Kavren {
namespace {

struct ModuleDeleter {
  void operator()(AppModule* module) const noexcept { DestroyModule(module); }
};
using ModuleHandle = std::unique_ptr<AppModule, ModuleDeleter>;

// A zeroed accounting block holding the constructed module; null when the heap refuses.
ModuleHandle CreateModule(const PluginDefinition& definition) {
  void* memory = Accounting::Allocate(definition.moduleSize);
  if (memory == nullptr) return nullptr;
  std::memset(memory, 0, definition.moduleSize);
  try {
    return ModuleHandle(definition.construct(memory));
  } catch (...) {
    Accounting::Free(memory);
    throw;
  }
}

void ReportIncompatibleApi(const char* shortName, const PluginApiVersion& plugin,
                           const PluginApiVersion& core) {
  const std::string message =
      Format(PluginMessages::kIncompatibleApi, shortName, VersionText(plugin), VersionText(core));
  ReportAssertion(PluginMessages::kIncompatibleApiExpression, message.c_str(), __FILE__, __LINE__,
                  __func__);
}

}  // namespace

std::int32_t LoadPlugin(Abi::PluginHostRecord* record, const PluginDefinition& definition) {
  if (record == nullptr) return kLoadFailed;
  // The machine snapshot (processor identification and topology) is taken at load,
  // once per process; it never fails and is not the module's memory.
  static_cast<void>(ProcessSystemInfo());
  const PluginApiVersion plugin = OwnPluginApiVersion();
  const PluginApiVersion core{record->major, record->minor, record->patch, {}, {}};

  // Whatever happens below, the host finds the plugin's version and no module
  // until the module is complete.
  record->major = plugin.major;
  record->minor = plugin.minor;
  record->patch = plugin.patch;
  record->functions = nullptr;
  record->context = nullptr;
  record->name = definition.shortName;
  record->api = nullptr;

  ModuleHandle module = CreateModule(definition);
  if (module == nullptr) {
    ReportHostCallFailure(Abi::kPluginExportName, PluginMessages::kModuleNotCreated);
    return kLoadFailed;
  }
  if (!IsCompatible(plugin, core)) ReportIncompatibleApi(definition.shortName, plugin, core);
  module->SetCoreApiVersion(core);
  module->SetIdentity(definition.shortName, PluginType{definition.typeName, {}});
  module->SetApiTagsFromIdentity();
  module->RegisterFrameworkTypes();
  module->RegisterEndpoints();
  module->BuildApiBlock();

  module->OpenToHost();
  AppModule* ready = module.release();
  record->functions = AppModule::FunctionTable();
  record->context = ready;
  record->name = ready->Identity().shortName.c_str();
  record->api = ready->ApiBlock();
  return kLoadSucceeded;
}

}  // namespace Kavren
