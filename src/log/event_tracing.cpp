// Event-tracing providers: registration, the enable rules and the main-thread event.
#include "log/event_tracing.h"

#include <cstring>
#include <type_traits>

#include "log/messages.h"
#include "util/platform.h"

namespace Kavren {

const TraceProviderId kTraceProviderIds[kTraceProviderCount] = {
    {0x2F9EFE86, 0x4AF7, 0x4F37, {0xA4, 0x0F, 0x94, 0xB9, 0x09, 0xA1, 0x57, 0xD6}},
    {0xEA08C559, 0x95A8, 0x4AA2, {0xAF, 0xA6, 0x18, 0x73, 0x8E, 0xEC, 0x6D, 0x37}},
    {0x10F6728C, 0xEF92, 0x4BF1, {0x83, 0x97, 0x49, 0xE6, 0x93, 0xA6, 0xEB, 0x74}},
    {0x46DD7F96, 0x60CB, 0x416B, {0x80, 0x85, 0xDA, 0x5C, 0xD8, 0xF4, 0x91, 0xDD}},
};

const TraceEventDescriptor kMainThreadEvent{103, 0, 0, 0, 14, 2, 1};

namespace {

// Tracing is best effort: a status the backend reports changes nothing here.
void IgnoreStatus(std::uint32_t /*status*/) noexcept {}

bool EventPasses(const TraceProvider& provider, const TraceEventDescriptor& event) noexcept {
  const bool levelPasses = provider.level == 0 || event.level <= provider.level;
  const bool keywordPasses =
      event.keyword == 0 || ((event.keyword & provider.anyKeyword) != 0 &&
                             (event.keyword & provider.allKeyword) == provider.allKeyword);
  return levelPasses && keywordPasses;
}

}  // namespace

// Provider 2 defines the main-thread event; the others define none here.
EventTracing::EventTracing(TracingBackend* backend) noexcept : backend_(backend) {
  for (std::size_t i = 0; i < kTraceProviderCount; ++i) {
    providers_[i] = TraceProvider{&kTraceProviderIds[i], nullptr, 0, nullptr, 0, false, 0, 0, 0};
  }
  providers_[1].events = &kMainThreadEvent;
  providers_[1].eventCount = 1;
  providers_[1].eventEnabled = mainThreadEnabled_;
}

void EventTracing::OnEnable(const TraceProviderId*, std::uint32_t controlCode, std::uint8_t level,
                            std::uint64_t anyKeyword, std::uint64_t allKeyword, const void*,
                            void* context) {
  auto* provider = static_cast<TraceProvider*>(context);
  if (provider == nullptr) return;
  if (controlCode == kTraceControlEnable) {
    provider->level = level;
    provider->anyKeyword = anyKeyword;
    provider->allKeyword = allKeyword;
    provider->enabled = true;
    for (std::size_t i = 0; i < provider->eventCount; ++i) {
      provider->eventEnabled[i] = EventPasses(*provider, provider->events[i]) ? 1 : 0;
    }
  } else if (controlCode == kTraceControlDisable) {
    provider->enabled = false;
    provider->level = 0;
    provider->anyKeyword = 0;
    provider->allKeyword = 0;
    for (std::size_t i = 0; i < provider->eventCount; ++i) provider->eventEnabled[i] = 0;
  }
  // Any other control code is answered without change.
}

std::uint32_t EventTracing::SetUp() noexcept {
  clockFrequency_ = Platform::HighResolutionFrequency();
  if (backend_ == nullptr) return 0;
  for (TraceProvider& provider : providers_) {
    if (provider.handle != 0) continue;
    IgnoreStatus(
        backend_->Register(*provider.id, &EventTracing::OnEnable, &provider, &provider.handle));
  }
  if (MainThreadEventEnabled()) {
    IgnoreStatus(WriteThreadEvent(providers_[1].handle, kMainThreadEvent,
                                  Platform::CurrentThreadId(), detail::kMainThreadName));
  }
  return 0;
}

std::uint32_t EventTracing::Release() noexcept {
  if (backend_ == nullptr) return 0;
  for (std::size_t i = kTraceProviderCount; i-- > 0;) {
    TraceProvider& provider = providers_[i];
    if (provider.handle == 0) continue;
    IgnoreStatus(backend_->Unregister(provider.handle));
    provider.handle = 0;
  }
  return 0;
}

std::uint32_t EventTracing::WriteThreadEvent(std::uint64_t handle,
                                             const TraceEventDescriptor& descriptor,
                                             std::uint32_t threadId, const char* name) noexcept {
  if (backend_ == nullptr) return 0;
  const char* text = name != nullptr ? name : detail::kMissingThreadName;
  const TraceDataItem items[2] = {
      {&threadId, sizeof threadId},
      {text, static_cast<std::uint32_t>(std::strlen(text) + 1)},
  };
  return backend_->Write(handle, descriptor, 2, items);
}

bool EventTracing::MainThreadEventEnabled() const noexcept { return mainThreadEnabled_[0] != 0; }

TracingBackend* LoadPlatformTracingBackend() noexcept {
  // The platform's tracing library ("Advapi32.dll" with EventRegister,
  // EventWrite and EventUnregister) never exists on Linux.
  return nullptr;
}

static_assert(std::is_trivially_destructible_v<EventTracing>,
              "the process's providers outlive every static object that releases them");

EventTracing& ProcessEventTracing() noexcept {
  static EventTracing tracing(LoadPlatformTracingBackend());
  return tracing;
}

EventTracingLifetime::EventTracingLifetime(EventTracing& tracing) noexcept : tracing_(tracing) {
  IgnoreStatus(tracing_.SetUp());
}

EventTracingLifetime::~EventTracingLifetime() { IgnoreStatus(tracing_.Release()); }

}  // namespace Kavren
