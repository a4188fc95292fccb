// The server bridge's typed operations: server-message handlers of a record type, server
// method calls with a native parameter, and host resources observed as native records.
// Declared with the event layer, whose tables they use; the untyped halves are in
// server_bridge.cpp.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "binding/convert.h"
#include "http/future.h"
#include "plugin/event_layer.h"
#include "plugin/typed_events.h"

namespace Kavren {

template <class T>
void EventLayer::RegisterQrmsHandler(const std::string& serverClass,
                                     std::function<void(const T&)> handler) {
  SetQrmsHandler(serverClass, [this, handler = std::move(handler)](const PluginQrmsEvent& event) {
    T record{};
    BindingResult status;
    FromValue(status, record, event.body, PluginMessages::kValueName, Registry());
    if (!status.ok) {
      DebugTrace(PluginMessages::kTraceQrmsNotConverted, detail::TraceTypeName<T>(),
                 event.typeName.c_str());
      return;
    }
    handler(record);
  });
}

template <class T>
FailureFuture EventLayer::InvokeQrms(const std::string& service, const std::string& method,
                                     const T& parameter) {
  BindingResult converted;
  ToValue(converted, parameter, Registry());
  return InvokeQrmsValue(service, method, std::move(converted),
                         detail::NativeTypeRef<T>(Registry()));
}

template <class T>
void EventLayer::ObserveResource(
    const std::string& uri, std::function<void(const std::string& uri, const T& record)> handler) {
  ObserveResourceEvents(
      uri, [this, handler = std::move(handler)](const PluginResourceEvent& event) {
        if (event.eventType == PluginResourceEventType::kDelete) {
          handler(event.uri, T{});
          return;
        }
        T record{};
        BindingResult status;
        FromValue(status, record, event.data, PluginMessages::kValueName, Registry());
        if (!status.ok) {
          DebugTrace(PluginMessages::kTraceObservedNotConverted, detail::TraceTypeName<T>(),
                     event.uri.c_str());
          return;
        }
        handler(event.uri, record);
      });
}

}  // namespace Kavren
