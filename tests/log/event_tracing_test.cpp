// Tests of the tracing providers against a fake backend.
#include "log/event_tracing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "util/platform.h"

namespace Kavren {
namespace {

using ::testing::ElementsAre;

bool SameId(const TraceProviderId& a, const TraceProviderId& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

struct WrittenEvent {
  std::uint64_t handle;
  TraceEventDescriptor descriptor;
  std::uint32_t threadId;
  std::string nameBytes;  // the second item, NUL included
  std::uint32_t count;
};

// Hands out handles 101, 102, ... and, when asked, enables each provider from
// inside Register, as a running session does.
class FakeTracingBackend final : public TracingBackend {
 public:
  std::uint32_t Register(const TraceProviderId& provider, TraceEnableCallback callback,
                         void* context, std::uint64_t* handle) override {
    registered.push_back(provider);
    *handle = nextHandle++;
    callbacks.push_back({callback, context});
    if (enableOnRegister) {
      callback(&provider, kTraceControlEnable, sessionLevel, anyKeyword, allKeyword, nullptr,
               context);
    }
    return 0;
  }
  std::uint32_t Write(std::uint64_t handle, const TraceEventDescriptor& descriptor,
                      std::uint32_t count, const TraceDataItem* items) override {
    WrittenEvent event{handle, descriptor, 0, {}, count};
    if (count == 2) {
      EXPECT_EQ(items[0].size, 4u);
      std::memcpy(&event.threadId, items[0].data, 4);
      event.nameBytes.assign(static_cast<const char*>(items[1].data), items[1].size);
    }
    written.push_back(event);
    return 0;
  }
  std::uint32_t Unregister(std::uint64_t handle) override {
    unregistered.push_back(handle);
    return 0;
  }

  struct Callback {
    TraceEnableCallback function;
    void* context;
  };
  bool enableOnRegister = false;
  std::uint8_t sessionLevel = 0;
  std::uint64_t anyKeyword = 0;
  std::uint64_t allKeyword = 0;
  std::uint64_t nextHandle = 101;
  std::vector<TraceProviderId> registered;
  std::vector<Callback> callbacks;
  std::vector<WrittenEvent> written;
  std::vector<std::uint64_t> unregistered;
};

TEST(EventTracing, RegistersInOrderAndReleasesInReverse) {
  FakeTracingBackend backend;
  EventTracing tracing(&backend);
  tracing.Provider(2).handle = 77;  // already registered: skipped
  EXPECT_EQ(tracing.SetUp(), 0u);
  ASSERT_EQ(backend.registered.size(), 3u);
  EXPECT_TRUE(SameId(backend.registered[0], kTraceProviderIds[0]));
  EXPECT_TRUE(SameId(backend.registered[1], kTraceProviderIds[1]));
  EXPECT_TRUE(SameId(backend.registered[2], kTraceProviderIds[3]));
  EXPECT_EQ(kTraceProviderIds[1].data1, 0xEA08C559u);
  EXPECT_EQ(kTraceProviderIds[3].data4[7], 0xDDu);
  EXPECT_TRUE(backend.written.empty());  // no session: no event

  tracing.Provider(1).handle = 0;  // as if provider 2 had never registered
  EXPECT_EQ(tracing.Release(), 0u);
  EXPECT_THAT(backend.unregistered, ElementsAre(103u, 77u, 101u));
  for (std::size_t i = 0; i < kTraceProviderCount; ++i) EXPECT_EQ(tracing.Provider(i).handle, 0u);
  EXPECT_EQ(tracing.Release(), 0u);
  EXPECT_EQ(backend.unregistered.size(), 3u);
}

TEST(EventTracing, WritesTheMainThreadEventWhenASessionEnablesIt) {
  FakeTracingBackend backend;
  backend.enableOnRegister = true;
  backend.sessionLevel = 4;
  backend.anyKeyword = 1;
  EventTracing tracing(&backend);
  tracing.SetUp();
  ASSERT_EQ(backend.written.size(), 1u);
  const WrittenEvent& event = backend.written[0];
  EXPECT_EQ(event.handle, 102u);
  EXPECT_EQ(event.count, 2u);
  EXPECT_EQ(event.descriptor.id, 103);
  EXPECT_EQ(event.descriptor.version, 0);
  EXPECT_EQ(event.descriptor.channel, 0);
  EXPECT_EQ(event.descriptor.level, 0);
  EXPECT_EQ(event.descriptor.opcode, 14);
  EXPECT_EQ(event.descriptor.task, 2);
  EXPECT_EQ(event.descriptor.keyword, 1u);
  EXPECT_EQ(event.threadId, Platform::CurrentThreadId());
  EXPECT_EQ(event.nameBytes, std::string("Main thread", 12));

  tracing.WriteThreadEvent(5, kMainThreadEvent, 9, nullptr);
  EXPECT_EQ(backend.written.back().nameBytes, std::string("NULL", 5));
  EXPECT_EQ(backend.written.back().threadId, 9u);
}

struct EnableCase {
  const char* name;
  std::uint8_t level;
  std::uint64_t any;
  std::uint64_t all;
  bool enabled;
};

class EnableRuleTest : public ::testing::TestWithParam<EnableCase> {};

// The main-thread event has level 0 and keyword 1.
TEST_P(EnableRuleTest, DecidesTheEventBit) {
  const EnableCase& c = GetParam();
  EventTracing tracing(nullptr);
  TraceProvider& provider = tracing.Provider(1);
  EventTracing::OnEnable(provider.id, kTraceControlEnable, c.level, c.any, c.all, nullptr,
                         &provider);
  EXPECT_TRUE(provider.enabled);
  EXPECT_EQ(provider.level, c.level);
  EXPECT_EQ(tracing.MainThreadEventEnabled(), c.enabled);
}

INSTANTIATE_TEST_SUITE_P(Rules, EnableRuleTest,
                         ::testing::Values(EnableCase{"AnyMatches", 5, 1, 0, true},
                                           EnableCase{"LevelZeroTakesAll", 0, 3, 0, true},
                                           EnableCase{"AnyMissesKeyword", 5, 2, 0, false},
                                           EnableCase{"NoAnyMask", 5, 0, 0, false},
                                           EnableCase{"AllMaskSatisfied", 5, 1, 1, true},
                                           EnableCase{"AllMaskNeedsMoreBits", 5, 1, 3, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EventTracing, DisableClearsAndOtherCodesChangeNothing) {
  EventTracing tracing(nullptr);
  TraceProvider& provider = tracing.Provider(1);
  EventTracing::OnEnable(provider.id, kTraceControlEnable, 4, 1, 0, nullptr, &provider);
  EventTracing::OnEnable(provider.id, kTraceControlCaptureState, 0, 0, 0, nullptr, &provider);
  EXPECT_TRUE(provider.enabled);
  EXPECT_TRUE(tracing.MainThreadEventEnabled());
  EventTracing::OnEnable(provider.id, kTraceControlDisable, 0, 0, 0, nullptr, &provider);
  EXPECT_FALSE(provider.enabled);
  EXPECT_EQ(provider.level, 0);
  EXPECT_EQ(provider.anyKeyword, 0u);
  EXPECT_FALSE(tracing.MainThreadEventEnabled());
}

TEST(EventTracing, WithoutABackendEverythingIsANoOp) {
  EXPECT_EQ(LoadPlatformTracingBackend(), nullptr);
  EventTracing tracing(nullptr);
  EXPECT_EQ(tracing.SetUp(), 0u);
  EXPECT_EQ(tracing.Provider(0).handle, 0u);
  EXPECT_EQ(tracing.WriteThreadEvent(1, kMainThreadEvent, 1, "x"), 0u);
  EXPECT_EQ(tracing.Release(), 0u);
  EXPECT_EQ(tracing.ClockFrequency(), Platform::HighResolutionFrequency());
  const EventTracingLifetime library(ProcessEventTracing());
  EXPECT_EQ(ProcessEventTracing().Provider(0).handle, 0u);
}

// The library holds one lifetime: its load sets the providers up once, its unload
// releases them once, in reverse order.
TEST(EventTracingLifetime, SetsUpAtLoadAndReleasesAtUnloadOnce) {
  FakeTracingBackend backend;
  EventTracing tracing(&backend);
  {
    const EventTracingLifetime library(tracing);
    EXPECT_EQ(backend.registered.size(), kTraceProviderCount);
    EXPECT_TRUE(backend.unregistered.empty());
    EXPECT_NE(tracing.ClockFrequency(), 0u);
  }
  EXPECT_EQ(backend.registered.size(), kTraceProviderCount);
  EXPECT_THAT(backend.unregistered, ElementsAre(104u, 103u, 102u, 101u));
}

}  // namespace
}  // namespace Kavren
