// Test helper: the sweep host and the plugin loaded into it.
#include "sweep_host_support.h"

#include <cstring>

#include "abi/api_block.h"
#include "abi/plugin.h"
#include "binding/host_value.h"
#include "failing_heap_support.h"
#include "formats/json.h"
#include "player_messaging/messages.h"
#include "plugin/entry.h"
#include "plugin/messages.h"
#include "util/accounting.h"

namespace Kavren::Testing {
namespace {

void HXA_CDECL ReleaseResponse(Abi::HttpResponseRecord* response) {
  ReleaseHostValue(response->value);
  Accounting::Free(const_cast<char*>(response->errorText));
  std::memset(static_cast<void*>(response), 0, sizeof(*response));
}

void Reply(Abi::HttpResponseRecord& response, const std::string& json) {
  const BindingResult value = ReadJson(json);
  ValueToHost(response.value, value.value, nullptr);
  response.status = 200;
  response.release = &ReleaseResponse;
}

}  // namespace

SweepHost& SweepHost::Of(Abi::HostFunctions* self) { return *reinterpret_cast<SweepHost*>(self); }

SweepHost::SweepHost() {
  table_.Call = [](Abi::HostFunctions* self, Abi::HttpResponseRecord* response,
                   const Abi::HttpRequestRecord* request) {
    SweepHost& host = Of(self);
    bool packetRead = false;
    {
      HostScope scope;
      const std::string path = request->path != nullptr ? request->path : "";
      if (path == Client::PlayerMessaging::PlayerMessagingMessages::kLoginDataPacketUri) {
        packetRead = true;
        if (host.packet_) {
          Reply(*response, *host.packet_);
        } else {
          response->errorText = Accounting::DuplicateText("Not found");
          response->failed = 1;
          response->status = 404;
          response->release = &ReleaseResponse;
        }
      } else if (path == PluginMessages::kSessionInvokePath) {
        ++host.records_.invokes;
        response->status = 200;
        response->release = &ReleaseResponse;
      } else {
        response->errorText = Accounting::DuplicateText("Invalid function");
        response->failed = 1;
        response->status = 404;
        response->release = &ReleaseResponse;
      }
    }
    if (packetRead && host.afterPacket) host.afterPacket();
  };
  table_.Reserved = [](Abi::HostFunctions*, Abi::HostWord, Abi::HostWord) {};
  table_.PublishEvent = [](Abi::HostFunctions* self, const Abi::HostEventRecord*) {
    ++Of(self).records_.publications;
  };
  table_.Subscribe = [](Abi::HostFunctions* self, const char* name, std::uint32_t,
                        Abi::HostEventCallback callback, void* context, std::int32_t) {
    HostScope scope;
    Of(self).subscriptions_.push_back(Subscription{name, callback, context, true});
  };
  table_.Unsubscribe = [](Abi::HostFunctions* self, const char* name, std::uint32_t) {
    for (Subscription& subscription : Of(self).subscriptions_) {
      if (subscription.live && subscription.name == name) {
        subscription.live = false;
        return;
      }
    }
  };
  table_.ScheduleJob = [](Abi::HostFunctions* self, const char* label, Abi::HostJobCallback job,
                          void* context, double, std::int32_t) {
    if (label == nullptr || label[0] == '\0') ++Of(self).records_.unlabelledJobs;
    Of(self).records_.job = job;
    Of(self).records_.jobContext = context;
  };
  table_.Pump = [](Abi::HostFunctions*) {};
  table_.BeginWait = [](Abi::HostFunctions*, const char*, std::int32_t) {};
  table_.EndWait = [](Abi::HostFunctions*) {};
  table_.Log = [](Abi::HostFunctions* self, std::int32_t level, const char* message) {
    if (level < 2) return;
    HostScope scope;
    Of(self).records_.errors.emplace_back(message);
  };
}

std::size_t SweepHost::LiveSubscriptions() const {
  std::size_t live = 0;
  for (const Subscription& subscription : subscriptions_) live += subscription.live ? 1 : 0;
  return live;
}

bool SweepHost::Deliver(const char* name, const std::string& payloadJson) {
  const Subscription* target = nullptr;
  for (const Subscription& subscription : subscriptions_) {
    if (subscription.live && subscription.name == name) target = &subscription;
  }
  if (target == nullptr) return false;
  std::optional<HostValueHolder> holder;
  Abi::HostEventRecord record{};
  {
    HostScope scope;
    holder.emplace();
    ValueToHost(holder->value(), ReadJson(payloadJson).value, nullptr);
    record.name = name;
    record.payload = holder->value();
    record.context = target->context;
  }
  target->callback(&record);
  HostScope scope;
  holder.reset();
  return true;
}

bool SweepHost::RunJob() {
  const Abi::HostJobCallback job = records_.job;
  if (job == nullptr) return false;
  records_.job = nullptr;
  job(records_.jobContext);
  return true;
}

SweepPlugin::SweepPlugin() {
  static const PluginDefinition definition = Client::PlayerMessaging::PlayerMessagingPlugin();
  record_.major = 18;
  // As the export does: whatever the load throws is a failed load.
  try {
    if (LoadPlugin(&record_, definition) != kLoadSucceeded) return;
  } catch (...) {
    return;
  }
  module_ = static_cast<Client::PlayerMessaging::PlayerMessagingModule*>(record_.context);
}

bool SweepPlugin::Start(SweepHost& host) {
  return module_ != nullptr && record_.functions->Start(record_.context, host.Interface());
}

void SweepPlugin::Stop() {
  if (module_ == nullptr) return;
  record_.functions->Stop(record_.context);
  module_ = nullptr;
}

EndpointAnswer SweepPlugin::Request(const char* function, std::int32_t method,
                                    const std::string& path) {
  const Abi::ApiEndpointDescriptor* found = nullptr;
  // The descriptors are linked: each holds the next.
  const Abi::ApiEndpointDescriptor* descriptor = record_.api->descriptors;
  for (std::uint32_t i = 0; descriptor != nullptr && i < record_.api->count; ++i) {
    if (std::strcmp(descriptor->function.name, function) == 0) found = descriptor;
    descriptor = descriptor->next;
  }
  EndpointAnswer answer;
  if (found == nullptr) {
    answer.status = -1;
    return answer;
  }
  Abi::HttpRequestRecord request{};
  request.method = method;
  request.path = path.c_str();
  request.endpoint = found->function.registration;
  Abi::HttpResponseRecord response{};
  found->requestEntry(&response, &request);
  HostScope scope;
  answer.failed = response.failed != 0;
  answer.status = response.status;
  if (response.errorText != nullptr) answer.errorText = response.errorText;
  BindingProperty value;
  if (HostToValue(value, response.value, "<response>")) answer.json = WriteJson(value);
  if (response.release != nullptr) response.release(&response);
  return answer;
}

}  // namespace Kavren::Testing
