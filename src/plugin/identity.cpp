// The full-name rule of plugins.
#include "plugin/identity.h"

#include "log/log.h"
#include "plugin/messages.h"
#include "util/format.h"

namespace Kavren {

PluginType BackendPluginType() { return PluginType{PluginMessages::kBackendTypeName, {}}; }

PluginType FrontendPluginType() { return PluginType{PluginMessages::kFrontendTypeName, {}}; }

std::string GetFullNameFromShortNameAndType(const std::string& shortName, const PluginType& type) {
  const char* prefix = PluginMessages::kUnknownPrefix;
  if (type.typeName == PluginMessages::kBackendTypeName) {
    prefix = PluginMessages::kBackendPrefix;
  } else if (type.typeName == PluginMessages::kFrontendTypeName) {
    prefix = PluginMessages::kFrontendPrefix;
  } else {
    const std::string message = Format(PluginMessages::kUnknownPluginType, shortName, type);
    LogPrintf(kLogLevelError, static_cast<std::uint32_t>(kLogGroupDbg), 0,
              PluginMessages::kPluginManagerLine, message.c_str());
  }
  return prefix + shortName;
}

}  // namespace Kavren
