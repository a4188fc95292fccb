// The interposed host of the lifecycle tests.
#include "interposed_host_support.h"

#include <cstring>

#include "abi/plugin.h"
#include "host/core/host_value.h"

namespace Kavren::Host {

InterposedHost::InterposedHost(DevelopmentHost& host) : host_(host) {
  table_.owner = this;
  table_.functions.Call = [](Abi::HostFunctions* self, Abi::HttpResponseRecord* response,
                             const Abi::HttpRequestRecord* request) {
    InterposedHost& owner = Owner(self);
    CallHandler handler;
    {
      std::lock_guard lock(owner.lock_);
      handler = owner.callHandler_;
    }
    if (handler && response != nullptr && request != nullptr && handler(*response, *request)) {
      return;
    }
    owner.Forward()->Call(owner.Forward(), response, request);
  };
  table_.functions.Reserved = [](Abi::HostFunctions* self, Abi::HostWord first,
                                 Abi::HostWord second) {
    Owner(self).Forward()->Reserved(Owner(self).Forward(), first, second);
  };
  table_.functions.PublishEvent = [](Abi::HostFunctions* self, const Abi::HostEventRecord* event) {
    InterposedHost& owner = Owner(self);
    PublishHandler handler;
    {
      std::lock_guard lock(owner.lock_);
      handler = owner.publishHandler_;
    }
    if (handler && event != nullptr) handler(*event);
    owner.Forward()->PublishEvent(owner.Forward(), event);
  };
  table_.functions.Subscribe = [](Abi::HostFunctions* self, const char* name, std::uint32_t cookie,
                                  Abi::HostEventCallback callback, void* context,
                                  std::int32_t flag) {
    Owner(self).Forward()->Subscribe(Owner(self).Forward(), name, cookie, callback, context, flag);
  };
  table_.functions.Unsubscribe = [](Abi::HostFunctions* self, const char* name,
                                    std::uint32_t cookie) {
    InterposedHost& owner = Owner(self);
    UnsubscribeHandler handler;
    {
      std::lock_guard lock(owner.lock_);
      handler = owner.unsubscribeHandler_;
    }
    if (handler) handler(name);
    owner.Forward()->Unsubscribe(owner.Forward(), name, cookie);
  };
  table_.functions.ScheduleJob = [](Abi::HostFunctions* self, const char* label,
                                    Abi::HostJobCallback job, void* context, double delay,
                                    std::int32_t flags) {
    InterposedHost& owner = Owner(self);
    {
      std::lock_guard lock(owner.lock_);
      if (owner.holdJobs_) {
        owner.heldJobs_.push_back(HeldJob{label != nullptr ? label : "", job, context});
        return;
      }
    }
    owner.Forward()->ScheduleJob(owner.Forward(), label, job, context, delay, flags);
  };
  table_.functions.Pump = [](Abi::HostFunctions* self) {
    Owner(self).Forward()->Pump(Owner(self).Forward());
  };
  table_.functions.BeginWait = [](Abi::HostFunctions* self, const char* label,
                                  std::int32_t reserved) {
    Owner(self).Forward()->BeginWait(Owner(self).Forward(), label, reserved);
  };
  table_.functions.EndWait = [](Abi::HostFunctions* self) {
    Owner(self).Forward()->EndWait(Owner(self).Forward());
  };
  table_.functions.Log = [](Abi::HostFunctions* self, std::int32_t level, const char* message) {
    Owner(self).Forward()->Log(Owner(self).Forward(), level, message);
  };
  interface_.functions = &table_.functions;
  interface_.cookie = host.Cookie();
  std::memcpy(&functions_, host.Record().functions, sizeof(functions_));
  context_ = host.Record().context;
}

InterposedHost& InterposedHost::Owner(Abi::HostFunctions* self) {
  InterposedHost& owner = *reinterpret_cast<Table*>(self)->owner;
  ++owner.callsSinceStop_;
  return owner;
}

void InterposedHost::OnCall(CallHandler handler) {
  std::lock_guard lock(lock_);
  callHandler_ = std::move(handler);
}

void InterposedHost::OnPublish(PublishHandler handler) {
  std::lock_guard lock(lock_);
  publishHandler_ = std::move(handler);
}

void InterposedHost::OnUnsubscribe(UnsubscribeHandler handler) {
  std::lock_guard lock(lock_);
  unsubscribeHandler_ = std::move(handler);
}

void InterposedHost::HoldJobs() {
  std::lock_guard lock(lock_);
  holdJobs_ = true;
}

std::vector<HeldJob> InterposedHost::TakeHeldJobs() {
  std::lock_guard lock(lock_);
  return std::exchange(heldJobs_, {});
}

bool InterposedHost::Start() { return functions_.Start(context_, &interface_); }

void InterposedHost::Stop() {
  functions_.Stop(context_);
  callsSinceStop_ = 0;
}

InterposedHost::Endpoint InterposedHost::FindEndpoint(std::int32_t method,
                                                      const std::string& urlTemplate) const {
  const Abi::PluginApiBlock* block = host_.Record().api;
  const Abi::ApiEndpointDescriptor* descriptor = block->descriptors;
  for (std::uint32_t index = 0; descriptor != nullptr && index < block->count; ++index) {
    if (descriptor->method == method && urlTemplate == descriptor->urlTemplate) {
      return Endpoint{descriptor->requestEntry, descriptor->function.registration};
    }
    descriptor = descriptor->next;
  }
  return Endpoint{nullptr, nullptr};
}

std::string InterposedHost::CallEndpoint(const Endpoint& endpoint, std::int32_t method,
                                         const std::string& path) {
  Abi::HttpRequestRecord request;
  std::memset(static_cast<void*>(&request), 0, sizeof(request));
  request.method = method;
  request.path = path.c_str();
  request.endpoint = endpoint.registration;
  Abi::HttpResponseRecord response;
  std::memset(static_cast<void*>(&response), 0, sizeof(response));
  endpoint.entry(&response, &request);
  std::string reply = std::to_string(response.status) + " " +
                      (response.errorText != nullptr ? response.errorText : "-") + " " +
                      HostValueToJson(response.value);
  if (response.release != nullptr) response.release(&response);
  return reply;
}

}  // namespace Kavren::Host
