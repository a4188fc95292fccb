// The value trees of request round trips and their memory: small replies live in their
// pools' inline pages, and repeated round trips map no region of the page provider.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "abi/api_block.h"
#include "abi/plugin.h"
#include "binding/convert.h"
#include "binding/host_value.h"
#include "binding/value_pool.h"
#include "http/router.h"

namespace Kavren::RouterPoolTesting {
// The shape of the plugin's notification head: five fields.
struct Head {
  std::int32_t id = 0;
  std::string msgId;
  std::string title;
  std::string text;
  std::int32_t status = 0;
};
// The shape of the plugin's celebration head: ten fields.
struct Celebration {
  std::int32_t id = 0;
  std::string msgId;
  std::string celebrationTitle;
  std::string celebrationBody;
  std::string celebrationMessage;
  std::string inventoryType;
  std::string itemId;
  std::int32_t itemQuantity = 0;
  std::string celebrationType;
  std::int32_t status = 0;
};
}  // namespace Kavren::RouterPoolTesting

HXA_BINDING_STRUCT(Kavren::RouterPoolTesting::Head);
HXA_BINDING_STRUCT(Kavren::RouterPoolTesting::Celebration);

namespace Kavren {
namespace {

using RouterPoolTesting::Celebration;
using RouterPoolTesting::Head;

constexpr const char kHeadPath[] = "/hxa-player-messaging/v1/notification";
constexpr const char kCelebrationPath[] = "/hxa-player-messaging/v1/celebration/notification";
constexpr const char kAcknowledgeTemplate[] =
    "/hxa-player-messaging/v1/notification/{id}/acknowledge";
constexpr const char kAcknowledgePath[] = "/hxa-player-messaging/v1/notification/42/acknowledge";

class RouterPoolTest : public ::testing::Test {
 protected:
  RouterPoolTest() {
    registry_.RegisterStruct<Head>("Head")
        .AddField("id", &Head::id)
        .AddField("msgId", &Head::msgId)
        .AddField("title", &Head::title)
        .AddField("text", &Head::text)
        .AddField("status", &Head::status);
    registry_.RegisterStruct<Celebration>("Celebration")
        .AddField("id", &Celebration::id)
        .AddField("msgId", &Celebration::msgId)
        .AddField("celebrationTitle", &Celebration::celebrationTitle)
        .AddField("celebrationBody", &Celebration::celebrationBody)
        .AddField("celebrationMessage", &Celebration::celebrationMessage)
        .AddField("inventoryType", &Celebration::inventoryType)
        .AddField("itemId", &Celebration::itemId)
        .AddField("itemQuantity", &Celebration::itemQuantity)
        .AddField("celebrationType", &Celebration::celebrationType)
        .AddField("status", &Celebration::status);
    head_ = router_.RegisterEndpoint(HttpMethod::Get, kHeadPath, [] {
      return Head{7, "m-1", "Welcome", "Your reward is waiting.", 1};
    });
    celebration_ = router_.RegisterEndpoint(HttpMethod::Get, kCelebrationPath, [] {
      return Celebration{8,          "m-2",      "Congratulations!", "You have earned a reward.",
                         "Enjoy it", "CURRENCY", "gold-coin",        250,
                         "ITEM",     1};
    });
    acknowledge_ = router_.RegisterEndpoint(HttpMethod::Delete, kAcknowledgeTemplate,
                                            [](std::int32_t) { return MaybeType<Failure, void>(); },
                                            {PathArgument("id")});
    block_ = router_.BuildApiBlock();
  }

  // Runs `count` round trips of `function` at `path`; false on a failed reply.
  bool RoundTrips(const EndpointFunction* function, std::int32_t method, const char* path,
                  int count) {
    Abi::HttpRequestRecord request{};
    request.method = method;
    request.path = path;
    for (const auto* d = block_.descriptors; d != nullptr; d = d->next) {
      if (function->name == d->function.name) request.endpoint = d->function.registration;
    }
    for (int i = 0; i < count; ++i) {
      Abi::HttpResponseRecord response{};
      RouterRequestEntry(&response, &request);
      const bool failed = response.failed != 0;
      response.release(&response);
      if (failed) return false;
    }
    return true;
  }

  BindingRegistry registry_;
  Router router_{registry_};
  EndpointFunction* head_ = nullptr;
  EndpointFunction* celebration_ = nullptr;
  EndpointFunction* acknowledge_ = nullptr;
  Abi::PluginApiBlock block_{};
};

// After warm-up, 1,000 round trips map no region. The five-field reply and the DELETE's
// argument take no provider page at all: their trees fit their pools' inline pages. The
// ten-field reply takes pages, which the kept region serves.
TEST_F(RouterPoolTest, RoundTripsAfterWarmUpMapNoRegion) {
  struct Row {
    const EndpointFunction* function;
    std::int32_t method;
    const char* path;
    bool fitsInline;
  };
  PageProvider& provider = PageProvider::Instance();
  for (const Row& row : {Row{head_, Abi::kHttpMethodGet, kHeadPath, true},
                         Row{celebration_, Abi::kHttpMethodGet, kCelebrationPath, false},
                         Row{acknowledge_, Abi::kHttpMethodDelete, kAcknowledgePath, true}}) {
    ASSERT_TRUE(RoundTrips(row.function, row.method, row.path, 10)) << row.path;
    const std::uint64_t regions = provider.RegionsMapped();
    const std::uint64_t pages = provider.PagesTaken();
    ASSERT_TRUE(RoundTrips(row.function, row.method, row.path, 1000)) << row.path;
    EXPECT_EQ(provider.RegionsMapped(), regions) << row.path;
    if (row.fitsInline) {
      EXPECT_EQ(provider.PagesTaken(), pages) << row.path;
    }
  }
}

}  // namespace
}  // namespace Kavren
