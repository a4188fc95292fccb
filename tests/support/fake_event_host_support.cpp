// The recording host for plugin tests.
#include <algorithm>
#include <cstring>

#include "binding/convert.h"
#include "binding/host_value.h"
#include "formats/json.h"
#include "support/fake_event_host.h"
#include "util/accounting.h"

namespace Kavren::Testing {
namespace {

FakeEventHost& Owner(Abi::HostFunctions* self) { return *reinterpret_cast<FakeEventHost*>(self); }

std::string HostValueJson(const Abi::HostValue& value) {
  BindingProperty converted;
  if (!HostToValue(converted, value, "<test>")) return "<unconvertible>";
  return WriteJson(converted);
}

void HXA_CDECL ReleaseResponse(Abi::HttpResponseRecord* response) {
  ReleaseHostValue(response->value);
  Accounting::Free(const_cast<char*>(response->errorText));
  std::memset(static_cast<void*>(response), 0, sizeof(*response));
}

}  // namespace

FakeEventHost::FakeEventHost() {
  table_.Call = [](Abi::HostFunctions* self, Abi::HttpResponseRecord* response,
                   const Abi::HttpRequestRecord* request) {
    FakeEventHost& host = Owner(self);
    HostCall call{request->method, request->path, static_cast<std::uint32_t>(request->context), {}};
    for (std::uint32_t i = 0; i < request->argumentCount; ++i) {
      call.arguments.push_back(HostValueJson(request->arguments[i].value));
    }
    Responder responder;
    {
      std::lock_guard<std::mutex> guard(host.lock_);
      host.calls_.push_back("Call " + std::to_string(call.method) + " " + call.path);
      host.hostCalls_.push_back(call);
      responder = host.responder_;
    }
    if (responder) responder(*response, call);
  };
  table_.Reserved = [](Abi::HostFunctions* self, Abi::HostWord, Abi::HostWord) {
    Owner(self).Record("Reserved");
  };
  table_.PublishEvent = [](Abi::HostFunctions* self, const Abi::HostEventRecord* event) {
    Owner(self).Record("Publish " + std::string(event->name) + " " + std::to_string(event->flag) +
                       " " + HostValueJson(event->payload));
  };
  table_.Subscribe = [](Abi::HostFunctions* self, const char* name, std::uint32_t cookie,
                        Abi::HostEventCallback callback, void* context, std::int32_t flag) {
    FakeEventHost& host = Owner(self);
    std::lock_guard<std::mutex> guard(host.lock_);
    host.calls_.push_back("Subscribe " + std::string(name) + " " + std::to_string(flag));
    host.subscriptions_.push_back(HostSubscription{name, cookie, callback, context, flag});
    host.liveNames_.push_back(name);
  };
  table_.Unsubscribe = [](Abi::HostFunctions* self, const char* name, std::uint32_t) {
    FakeEventHost& host = Owner(self);
    std::lock_guard<std::mutex> guard(host.lock_);
    host.calls_.push_back("Unsubscribe " + std::string(name));
    host.liveNames_.erase(std::remove(host.liveNames_.begin(), host.liveNames_.end(), name),
                          host.liveNames_.end());
  };
  table_.ScheduleJob = [](Abi::HostFunctions* self, const char* label, Abi::HostJobCallback job,
                          void* context, double delay, std::int32_t flags) {
    FakeEventHost& host = Owner(self);
    std::lock_guard<std::mutex> guard(host.lock_);
    host.calls_.push_back("Schedule " + std::string(label) + " " + std::to_string(delay));
    host.jobs_.push_back(HostJob{label, job, context, delay, flags});
  };
  table_.Pump = [](Abi::HostFunctions* self) { Owner(self).Record("Pump"); };
  table_.BeginWait = [](Abi::HostFunctions* self, const char* label, std::int32_t) {
    Owner(self).Record("BeginWait " + std::string(label));
  };
  table_.EndWait = [](Abi::HostFunctions* self) { Owner(self).Record("EndWait"); };
  table_.Log = [](Abi::HostFunctions* self, std::int32_t level, const char* message) {
    FakeEventHost& host = Owner(self);
    std::lock_guard<std::mutex> guard(host.lock_);
    host.logs_.emplace_back(level, message);
  };
}

void FakeEventHost::Record(std::string call) {
  std::lock_guard<std::mutex> guard(lock_);
  calls_.push_back(std::move(call));
}

void FakeEventHost::SetResponder(Responder responder) {
  std::lock_guard<std::mutex> guard(lock_);
  responder_ = std::move(responder);
}

std::vector<std::string> FakeEventHost::Calls() const {
  std::lock_guard<std::mutex> guard(lock_);
  return calls_;
}

void FakeEventHost::ClearCalls() {
  std::lock_guard<std::mutex> guard(lock_);
  calls_.clear();
  logs_.clear();
}

std::vector<HostSubscription> FakeEventHost::Subscriptions() const {
  std::lock_guard<std::mutex> guard(lock_);
  return subscriptions_;
}

std::vector<HostCall> FakeEventHost::HostCalls() const {
  std::lock_guard<std::mutex> guard(lock_);
  return hostCalls_;
}

std::vector<HostJob> FakeEventHost::Jobs() const {
  std::lock_guard<std::mutex> guard(lock_);
  return jobs_;
}

std::vector<std::pair<std::int32_t, std::string>> FakeEventHost::Logs() const {
  std::lock_guard<std::mutex> guard(lock_);
  return logs_;
}

bool FakeEventHost::Deliver(const std::string& name, const std::string& payloadJson,
                            std::int32_t flag) {
  HostSubscription target{};
  bool found = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (std::find(liveNames_.begin(), liveNames_.end(), name) == liveNames_.end()) return false;
    for (auto it = subscriptions_.rbegin(); it != subscriptions_.rend(); ++it) {
      if (it->name == name) {
        target = *it;
        found = true;
        break;
      }
    }
  }
  if (!found) return false;
  BindingResult payload = ReadJson(payloadJson);
  HostValueHolder holder;
  ValueToHost(holder.value(), payload.value, nullptr);
  Abi::HostEventRecord record;
  std::memset(static_cast<void*>(&record), 0, sizeof(record));
  record.name = name.c_str();
  record.payload = holder.value();
  record.flag = flag;
  record.context = target.context;
  target.callback(&record);
  return true;
}

void FakeEventHost::RunJob(std::size_t index) {
  HostJob job{};
  {
    std::lock_guard<std::mutex> guard(lock_);
    job = jobs_.at(index);
  }
  job.callback(job.context);
}

void FakeEventHost::ReplyJson(Abi::HttpResponseRecord& response, const std::string& json) {
  BindingResult value = ReadJson(json);
  ValueToHost(response.value, value.value, nullptr);
  response.release = &ReleaseResponse;
}

void FakeEventHost::ReplyError(Abi::HttpResponseRecord& response, std::int32_t status,
                               const char* errorText) {
  response.errorText = Accounting::DuplicateText(errorText);
  response.failed = 1;
  response.status = status;
  response.release = &ReleaseResponse;
}

}  // namespace Kavren::Testing
