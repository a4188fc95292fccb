// Requests on several threads at once share only the read-only endpoint registrations.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "abi/api_block.h"
#include "abi/plugin.h"
#include "http/router.h"

namespace Kavren {
namespace {

TEST(RouterConcurrency, ParallelRequestsEachGetTheirOwnAnswer) {
  BindingRegistry registry;
  Router router(registry);
  std::atomic<int> calls{0};
  router.RegisterEndpoint(HttpMethod::Delete, "/n/{id}/acknowledge",
                          [&](std::int32_t id) {
                            calls.fetch_add(1);
                            if (id % 2 == 0) return MaybeType<Failure, void>();
                            return MaybeType<Failure, void>(Failure{404, "Not found"});
                          },
                          {PathArgument("id")});
  const Abi::PluginApiBlock block = router.BuildApiBlock();
  ASSERT_EQ(block.count, 1u);
  const Abi::ApiEndpointDescriptor& descriptor = block.descriptors[0];
  const Abi::ApiRequestEntry entry = descriptor.requestEntry;
  const void* registration = descriptor.function.registration;

  constexpr int kThreads = 4;
  constexpr int kRequests = 200;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRequests; ++i) {
        const int id = t * kRequests + i;
        const std::string path = "/n/" + std::to_string(id) + "/acknowledge";
        Abi::HttpRequestRecord request{};
        request.method = Abi::kHttpMethodDelete;
        request.path = path.c_str();
        request.endpoint = registration;
        Abi::HttpResponseRecord response{};
        entry(&response, &request);
        const std::int32_t status = response.status;
        const bool failed = response.failed != 0;
        if (failed != (id % 2 != 0) || status != (id % 2 != 0 ? 404 : 0)) wrong.fetch_add(1);
        response.release(&response);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(calls.load(), kThreads * kRequests);
}

}  // namespace
}  // namespace Kavren
