// The full-name rule of plugins.
#include "plugin/identity.h"

#include "log/log.h"
#include "plugin/messages.h"
#include "util/format.h"

namespace Kavren {

PluginType BackendPluginType() { return PluginType{PluginText::kBackendTypeName, {}}; }

PluginType FrontendPluginType() { return PluginType{PluginText::kFrontendTypeName, {}}; }

std::string GetFullNameFromShortNameAndType(const std::string& shortName, const PluginType& type) {
  const char* prefix = PluginText::kUnknownPrefix;
  if (type.typeName == PluginText::kBackendTypeName) {
    prefix = PluginText::kBackendPrefix;
  } else if (type.typeName == PluginText::kFrontendTypeName) {
    prefix = PluginText::kFrontendPrefix;
  } else {
    const std::string message = Format(PluginText::kUnknownPluginType, shortName, type);
    LogPrintf(kLogLevelError, static_cast<std::uint32_t>(kLogGroupDbg), 0,
              PluginText::kPluginManagerLine, message.c_str());
  }
  return prefix + shortName;
}

}  // namespace Kavren
