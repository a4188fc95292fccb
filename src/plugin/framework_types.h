// The framework's host-facing records, enumerations and events of the "zclient" name space.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "binding/type_identity.h"
#include "binding/value.h"

namespace Kavren {

class BindingRegistry;

/// The name space of the framework's events.
inline constexpr char kFrameworkNameSpace[] = "zclient";

/// Event names, besides kJsonApiEventName and kQrmsEventName (plugin/event_names.h).
inline constexpr char kServiceProxyUuidEventName[] = "OnServiceProxyUuidEvent";
inline constexpr char kServiceProxyMethodEventName[] = "OnServiceProxyMethodEvent";
inline constexpr char kServiceProxyAsyncEventName[] = "OnServiceProxyAsyncEvent";

enum class PluginManagerState : std::int32_t {
  kNotReady = 0,
  kPluginsInitialized = 1,
};

struct PluginManagerResource {
  PluginManagerState state = PluginManagerState::kNotReady;
};

enum class PluginResourceEventType : std::int32_t {
  kCreate = 0,
  kUpdate = 1,
  kDelete = 2,
};

/// The payload of every resource event: which resource changed, how, and its new value.
struct PluginResourceEvent {
  std::string uri;
  PluginResourceEventType eventType = PluginResourceEventType::kCreate;
  BindingProperty data;
};

/// The payload of every server-message event: a transfer object and its server class.
struct PluginQrmsEvent {
  std::string clientId;
  std::string subtopic;
  std::string typeName;
  BindingProperty body;
};

struct PluginQrmsResponse {
  std::string typeName;
  BindingProperty body;
};

/// The payload of the three service-proxy events.
struct PluginServiceProxyResponse {
  std::string uuid;
  std::string serviceName;
  std::string methodName;
  std::string payload;
  std::string status;
  std::string error;
};

/// [at load] Registers the records and enumerations above, leaves first, each carrying
/// `apiTags`, then the five framework events with their payloads and descriptions in the
/// "zclient" name space. Names registered before are left as they are.
void RegisterPluginManagerTypes(BindingRegistry& registry, const std::vector<std::string>& apiTags);

}  // namespace Kavren

HXA_BINDING_ENUM(Kavren::PluginManagerState);
HXA_BINDING_STRUCT(Kavren::PluginManagerResource);
HXA_BINDING_ENUM(Kavren::PluginResourceEventType);
HXA_BINDING_STRUCT(Kavren::PluginResourceEvent);
HXA_BINDING_STRUCT(Kavren::PluginQrmsEvent);
HXA_BINDING_STRUCT(Kavren::PluginQrmsResponse);
HXA_BINDING_STRUCT(Kavren::PluginServiceProxyResponse);
