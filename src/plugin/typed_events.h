// The event layer's typed operations on host events: the host callback of a payload type,
// delivery to the handler registered for the event, and resources published from native
// records. Declared with the event layer, whose tables they use.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "abi/event.h"
#include "binding/convert.h"
#include "binding/host_value.h"
#include "binding/type_identity.h"
#include "binding/value.h"
#include "log/log.h"
#include "plugin/boundary.h"
#include "plugin/event_layer.h"
#include "plugin/handler_table.h"
#include "plugin/messages.h"
#include "plugin/module_directory.h"
#include "util/failure.h"
#include "util/format.h"

namespace Kavren {

namespace detail {

/// The printable name of T for debug traces.
template <class T>
const char* TraceTypeName() {
  return StaticType::HashCode<T>()->name;
}

/// The host callback given to Subscribe for payload records of type T; its context is
/// the module's directory id, so a delivery after Stop finds no module and does nothing.
template <class T>
void HXA_CDECL HostEventEntry(const Abi::HostEventRecord* event) {
  // Nothing may leave a host callback: failures are logged at level 2.
  try {
    if (event == nullptr) return;
    // Pinned for the delivery: a Stop meanwhile destroys the module only afterwards.
    const ModulePin pin =
        ModuleDirectory::PinById(reinterpret_cast<std::uintptr_t>(event->context));
    if (!pin) return;
    pin.Module()->DeliverHostEvent<T>(*event);
  } catch (...) {
    ReportCurrentException(PluginMessages::kEventCallbackCall);
  }
}

}  // namespace detail

template <class T>
void EventLayer::RegisterEventHandler(const std::string& eventName,
                                      std::function<void(const T&)> handler, std::int32_t flag) {
  handlers_.SetEventHandler(eventName,
                            std::make_shared<detail::EventHandlerSlot<T>>(std::move(handler)));
  SubscribeWithHost(eventName.c_str(), cookie_, &detail::HostEventEntry<T>,
                    reinterpret_cast<void*>(lifetime_.id), flag);
}

template <class T>
void EventLayer::DeliverHostEvent(const Abi::HostEventRecord& event) {
  const char* name = event.name != nullptr ? event.name : "";
  const HandlerTable::Slot slot = handlers_.FindEventHandler(name);
  // A name re-registered with another record type than this callback's is not ours.
  if (slot == nullptr || slot->payloadType != StaticType::HashCode<T>()) return;

  BindingProperty value;
  const MaybeType<Failure, void> hostError =
      HostToValue(value, event.payload, HttpMessages::kResultName);
  if (hostError.Failed()) {
    DebugTrace(PluginMessages::kTracePayloadNotConverted, detail::TraceTypeName<T>(), name,
               hostError.GetFailure().message.CStr());
    return;
  }
  T native{};
  BindingResult status;
  FromValue(status, native, value, HttpMessages::kResultName, Registry());
  if (!status.ok) {
    DebugTrace(PluginMessages::kTracePayloadNotConverted, detail::TraceTypeName<T>(), name,
               status.ErrorText().c_str());
    return;
  }
  DebugTrace(PluginMessages::kTraceHandlingEvent, name);
  // An empty handler is a broken registration: std::bad_function_call, logged by the entry.
  static_cast<detail::EventHandlerSlot<T>&>(*slot).handler(native);
}

template <class T>
MaybeType<Failure, void> EventLayer::PublishResource(PluginResourceEventType eventType,
                                                     const std::string& path, const T& resource) {
  BindingResult data;
  ToValue(data, resource, Registry());
  if (!data.ok) {
    DebugTrace(PluginMessages::kTraceResourceNotConverted, detail::TraceTypeName<T>(),
               path.c_str());
    return Failure{0, Format(PluginMessages::kResourceNotConverted, path, data.ErrorText())};
  }
  return PublishResourceValue(eventType, path, data.value);
}

}  // namespace Kavren
