// The module's service-proxy tables: received replies, waiting requests and the
// handlers of asynchronous replies.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "plugin/framework_types.h"

namespace Kavren {

/// Handler of a service-proxy reply: a waiting request or an asynchronous handler.
using ServiceProxyHandler = std::function<void(const PluginServiceProxyResponse& reply)>;

/// [thread-safe] The module's mutex guards the three tables; handlers are taken out of
/// it and run after it is released, so a handler may enter requests or handlers again.
class ServiceProxyTable {
 public:
  /// Enters a request waiting for the reply under `key`; a reply that came first is
  /// handed over at once.
  void AddRequest(const std::string& key, ServiceProxyHandler handler);
  /// The handler of asynchronous replies of `key` ("service.method").
  void AddAsyncHandler(const std::string& key, ServiceProxyHandler handler);
  /// Stores `reply` under `key`, then fulfils the first waiting request that has a
  /// reply: its handler gets a copy, and the request and every reply under its key go.
  void StoreReply(const std::string& key, const PluginServiceProxyResponse& reply);
  /// Calls the asynchronous handler of `key` with `reply`; false when there is none.
  [[nodiscard]] bool DeliverAsync(const std::string& key, const PluginServiceProxyResponse& reply);
  /// Forgets every reply, request and handler.
  void Clear();

 private:
  // Fulfils one waiting request that has a reply, if any; takes the lock itself.
  void Fulfil();

  // The module's mutex: guards the three tables.
  std::mutex lock_;
  std::map<std::string, PluginServiceProxyResponse, std::less<>> replies_;
  std::map<std::string, ServiceProxyHandler, std::less<>> requests_;
  std::map<std::string, ServiceProxyHandler, std::less<>> asyncHandlers_;
};

}  // namespace Kavren
