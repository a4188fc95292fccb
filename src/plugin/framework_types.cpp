// The framework's host-facing records, enumerations and events of the "zclient" name space.
#include "plugin/framework_types.h"

#include "binding/registry.h"
#include "plugin/event_names.h"

namespace Kavren {
namespace {

// The descriptions of the framework events, as the API description shows them.
constexpr char kJsonApiEventDescription[] = "Fired when a resource is changed.";
constexpr char kQrmsEventDescription[] =
    "Fired when a message is received over the QRMS connection.";
constexpr char kServiceProxyUuidEventDescription[] =
    "Fired when a uuid-based service proxy message is received.";
constexpr char kServiceProxyMethodEventDescription[] =
    "Fired when a method-based service proxy message is received.";
constexpr char kServiceProxyAsyncEventDescription[] =
    "Fired when an async service proxy message is received.";

TypeBuilder& WithTags(TypeBuilder& builder, const std::vector<std::string>& tags) {
  for (const std::string& tag : tags) builder.AddTag(tag.c_str());
  return builder;
}

template <class Payload>
void RegisterFrameworkEvent(BindingRegistry& registry, const char* name, const char* description) {
  EventBuilder event = registry.RegisterEvent<Payload>(name);
  if (event.alreadyRegistered()) return;
  event.record()->nameSpace = kFrameworkNameSpace;
  event.SetDescription(description);
}

}  // namespace

void RegisterPluginManagerTypes(BindingRegistry& registry,
                                const std::vector<std::string>& apiTags) {
  {
    TypeBuilder type = registry.RegisterEnum<PluginManagerState>("PluginManagerState");
    type.AddValue("NotReady", static_cast<std::int32_t>(PluginManagerState::kNotReady))
        .AddValue("PluginsInitialized",
                  static_cast<std::int32_t>(PluginManagerState::kPluginsInitialized));
    WithTags(type, apiTags);
  }
  {
    TypeBuilder type = registry.RegisterStruct<PluginManagerResource>("PluginManagerResource");
    type.AddField("state", &PluginManagerResource::state);
    WithTags(type, apiTags);
  }
  {
    TypeBuilder type = registry.RegisterEnum<PluginResourceEventType>("PluginResourceEventType");
    type.AddValue("Create", static_cast<std::int32_t>(PluginResourceEventType::kCreate))
        .AddValue("Update", static_cast<std::int32_t>(PluginResourceEventType::kUpdate))
        .AddValue("Delete", static_cast<std::int32_t>(PluginResourceEventType::kDelete));
    WithTags(type, apiTags);
  }
  {
    TypeBuilder type = registry.RegisterStruct<PluginResourceEvent>("PluginResourceEvent");
    type.AddField("uri", &PluginResourceEvent::uri)
        .AddField("eventType", &PluginResourceEvent::eventType)
        .AddField("data", &PluginResourceEvent::data);
    WithTags(type, apiTags);
  }
  {
    TypeBuilder type = registry.RegisterStruct<PluginQrmsEvent>("PluginQrmsEvent");
    type.AddField("clientId", &PluginQrmsEvent::clientId)
        .AddField("subtopic", &PluginQrmsEvent::subtopic)
        .AddField("typeName", &PluginQrmsEvent::typeName)
        .AddField("body", &PluginQrmsEvent::body);
    WithTags(type, apiTags);
  }
  {
    TypeBuilder type = registry.RegisterStruct<PluginQrmsResponse>("PluginQrmsResponse");
    type.AddField("typeName", &PluginQrmsResponse::typeName)
        .AddField("body", &PluginQrmsResponse::body);
    WithTags(type, apiTags);
  }
  {
    TypeBuilder type =
        registry.RegisterStruct<PluginServiceProxyResponse>("PluginServiceProxyResponse");
    type.AddField("uuid", &PluginServiceProxyResponse::uuid)
        .AddField("serviceName", &PluginServiceProxyResponse::serviceName)
        .AddField("methodName", &PluginServiceProxyResponse::methodName)
        .AddField("payload", &PluginServiceProxyResponse::payload)
        .AddField("status", &PluginServiceProxyResponse::status)
        .AddField("error", &PluginServiceProxyResponse::error);
    WithTags(type, apiTags);
  }

  RegisterFrameworkEvent<PluginResourceEvent>(registry, kJsonApiEventName,
                                              kJsonApiEventDescription);
  RegisterFrameworkEvent<PluginQrmsEvent>(registry, kQrmsEventName, kQrmsEventDescription);
  RegisterFrameworkEvent<PluginServiceProxyResponse>(registry, kServiceProxyUuidEventName,
                                                     kServiceProxyUuidEventDescription);
  RegisterFrameworkEvent<PluginServiceProxyResponse>(registry, kServiceProxyMethodEventName,
                                                     kServiceProxyMethodEventDescription);
  RegisterFrameworkEvent<PluginServiceProxyResponse>(registry, kServiceProxyAsyncEventName,
                                                     kServiceProxyAsyncEventDescription);
}

}  // namespace Kavren
