// The plugin driver and the host function trampolines.
#include "host/core/plugin_driver.h"

#include <charconv>
#include <cstring>
#include <exception>

namespace Kavren::Host {
namespace {

std::string TextOrEmpty(const char* text) { return text != nullptr ? std::string(text) : ""; }

// Runs one host function's work; whatever it throws stays on the host's side.
// False when it threw.
template <class Work>
bool Guarded(HostServices& services, const char* function, Work work) noexcept {
  try {
    work();
    return true;
  } catch (const std::exception& exception) {
    services.Failed(function, exception.what());
  } catch (...) {
    services.Failed(function, "unknown exception");
  }
  return false;
}

constexpr char kInternalError[] = "Internal server error";

void HXA_CDECL ReleaseStaticResponse(Abi::HttpResponseRecord* response) {
  if (response != nullptr) std::memset(static_cast<void*>(response), 0, sizeof *response);
}

}  // namespace

std::optional<CoreVersion> ParseCoreVersion(std::string_view text) {
  std::uint32_t numbers[3] = {};
  const char* position = text.data();
  const char* end = text.data() + text.size();
  for (int index = 0; index < 3; ++index) {
    if (index > 0) {
      if (position == end || *position != '.') return std::nullopt;
      ++position;
    }
    if (position == end || *position < '0' || *position > '9') return std::nullopt;
    auto [next, error] = std::from_chars(position, end, numbers[index]);
    if (error != std::errc()) return std::nullopt;
    position = next;
  }
  if (position != end) return std::nullopt;
  return CoreVersion{numbers[0], numbers[1], numbers[2]};
}

PluginDriver::PluginDriver(HostServices& services, std::uint32_t cookie) {
  table_.functions =
      Abi::HostFunctions{OnCall,        OnReserved, OnPublishEvent, OnSubscribe, OnUnsubscribe,
                         OnScheduleJob, OnPump,     OnBeginWait,    OnEndWait,   OnLog};
  table_.services = &services;
  interface_.functions = &table_.functions;
  interface_.cookie = cookie;
}

bool PluginDriver::Load(Abi::PluginLoadFunction load, CoreVersion version) {
  if (load == nullptr || loaded_) return false;
  record_ = Abi::PluginHostRecord{};
  record_.major = version.major;
  record_.minor = version.minor;
  record_.patch = version.patch;
  load(&record_);
  const bool loaded = record_.functions != nullptr;
  // The table lives in the module, the function in the library: keep the
  // function so the counters stay readable after Stop.
  getMemoryStats_ = loaded ? record_.functions->GetMemoryStats : nullptr;
  started_ = false;
  loaded_ = loaded;
  return loaded;
}

bool PluginDriver::Start() {
  if (!loaded_ || started_) return false;
  started_ = record_.functions->Start(record_.context, &interface_);
  return started_;
}

void PluginDriver::Stop() {
  if (!loaded_) return;
  record_.functions->Stop(record_.context);
  loaded_ = false;
  started_ = false;
}

Abi::PluginMemoryStats PluginDriver::MemoryStats() const {
  Abi::PluginMemoryStats stats{};
  if (getMemoryStats_ != nullptr) getMemoryStats_(nullptr, &stats);
  return stats;
}

HostServices& PluginDriver::ServicesOf(Abi::HostFunctions* self) {
  return *reinterpret_cast<Table*>(self)->services;
}

void PluginDriver::OnCall(Abi::HostFunctions* self, Abi::HttpResponseRecord* response,
                          const Abi::HttpRequestRecord* request) noexcept {
  HostServices& services = ServicesOf(self);
  if (response == nullptr) {
    Guarded(services, "Call", [&] { services.CallWithoutResponse(); });
    return;
  }
  if (!Guarded(services, "Call", [&] { services.Call(*response, request); })) {
    // Whatever the failed call filled in is dropped; the answer owns nothing.
    std::memset(static_cast<void*>(response), 0, sizeof *response);
    response->status = 500;
    response->failed = 1;
    response->errorText = kInternalError;
    response->release = ReleaseStaticResponse;
  }
}

void PluginDriver::OnReserved(Abi::HostFunctions* self, Abi::HostWord, Abi::HostWord) noexcept {
  HostServices& services = ServicesOf(self);
  Guarded(services, "Reserved", [&] { services.Reserved(); });
}

void PluginDriver::OnPublishEvent(Abi::HostFunctions* self,
                                  const Abi::HostEventRecord* event) noexcept {
  HostServices& services = ServicesOf(self);
  Guarded(services, "PublishEvent", [&] {
    if (event == nullptr) {
      services.PublishWithoutEvent();
      return;
    }
    // Only the first three fields: a published record need not carry a context.
    const Abi::HostValue payload = event->payload;
    services.PublishEvent(TextOrEmpty(event->name), payload, event->flag);
  });
}

void PluginDriver::OnSubscribe(Abi::HostFunctions* self, const char* eventName,
                               std::uint32_t cookie, Abi::HostEventCallback callback, void* context,
                               std::int32_t flag) noexcept {
  HostServices& services = ServicesOf(self);
  Guarded(services, "Subscribe",
          [&] { services.Subscribe(TextOrEmpty(eventName), cookie, callback, context, flag); });
}

void PluginDriver::OnUnsubscribe(Abi::HostFunctions* self, const char* eventName,
                                 std::uint32_t cookie) noexcept {
  HostServices& services = ServicesOf(self);
  Guarded(services, "Unsubscribe", [&] { services.Unsubscribe(TextOrEmpty(eventName), cookie); });
}

void PluginDriver::OnScheduleJob(Abi::HostFunctions* self, const char* label,
                                 Abi::HostJobCallback job, void* context, double delaySeconds,
                                 std::int32_t) noexcept {
  HostServices& services = ServicesOf(self);
  Guarded(services, "ScheduleJob",
          [&] { services.ScheduleJob(TextOrEmpty(label), job, context, delaySeconds); });
}

void PluginDriver::OnPump(Abi::HostFunctions* self) noexcept {
  HostServices& services = ServicesOf(self);
  Guarded(services, "Pump", [&] { services.Pump(); });
}

void PluginDriver::OnBeginWait(Abi::HostFunctions* self, const char* label, std::int32_t) noexcept {
  HostServices& services = ServicesOf(self);
  Guarded(services, "BeginWait", [&] { services.BeginWait(TextOrEmpty(label)); });
}

void PluginDriver::OnEndWait(Abi::HostFunctions* self) noexcept {
  HostServices& services = ServicesOf(self);
  Guarded(services, "EndWait", [&] { services.EndWait(); });
}

void PluginDriver::OnLog(Abi::HostFunctions* self, std::int32_t level,
                         const char* message) noexcept {
  HostServices& services = ServicesOf(self);
  Guarded(services, "Log", [&] { services.Log(level, TextOrEmpty(message)); });
}

}  // namespace Kavren::Host
