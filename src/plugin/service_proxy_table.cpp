// The module's service-proxy tables.
#include "plugin/service_proxy_table.h"

#include <utility>

#include "log/log.h"
#include "plugin/messages.h"

namespace Kavren {

void ServiceProxyTable::AddRequest(const std::string& key, ServiceProxyHandler handler) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    requests_[key].swap(handler);
  }
  Fulfil();
}

void ServiceProxyTable::AddAsyncHandler(const std::string& key, ServiceProxyHandler handler) {
  std::lock_guard<std::mutex> guard(lock_);
  asyncHandlers_[key].swap(handler);
}

void ServiceProxyTable::StoreReply(const std::string& key,
                                   const PluginServiceProxyResponse& reply) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    replies_.insert_or_assign(key, reply);
  }
  Fulfil();
}

bool ServiceProxyTable::DeliverAsync(const std::string& key,
                                     const PluginServiceProxyResponse& reply) {
  ServiceProxyHandler handler;
  {
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = asyncHandlers_.find(key);
    if (found == asyncHandlers_.end()) return false;
    handler = found->second;
  }
  handler(reply);
  return true;
}

void ServiceProxyTable::Fulfil() {
  std::string key;
  PluginServiceProxyResponse copy;
  ServiceProxyHandler handler;
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto reply = replies_.begin();
    for (; reply != replies_.end(); ++reply) {
      const auto request = requests_.find(reply->first);
      if (request == requests_.end()) continue;
      key = reply->first;
      copy = reply->second;
      handler = std::move(request->second);
      requests_.erase(request);
      replies_.erase(reply);
      break;
    }
  }
  if (!handler) return;
  handler(copy);
  LogPrintf(kLogLevelAlways, static_cast<std::uint32_t>(kLogGroupDbg), 0,
            PluginMessages::kServiceProxyFulfilled, key.c_str());
}

void ServiceProxyTable::Clear() {
  decltype(requests_) requests;
  decltype(asyncHandlers_) asyncHandlers;
  std::lock_guard<std::mutex> guard(lock_);
  replies_.clear();
  requests.swap(requests_);
  asyncHandlers.swap(asyncHandlers_);
}

}  // namespace Kavren
