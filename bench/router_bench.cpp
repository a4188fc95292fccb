// Request entry round trips of a GET and a DELETE, their floors, and the DELETE's parts.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "abi/api_block.h"
#include "abi/plugin.h"
#include "binding/convert.h"
#include "binding/host_value.h"
#include "http/binding.h"
#include "http/router.h"

namespace Kavren::RouterBench {
struct Head {
  std::int32_t id = 0;
  std::string msgId;
  std::string title;
  std::string text;
  std::int32_t status = 0;
};
}  // namespace Kavren::RouterBench

HXA_BINDING_STRUCT(Kavren::RouterBench::Head);

namespace Kavren {
namespace {

using RouterBench::Head;

constexpr const char kReadPath[] = "/hxa-player-messaging/v1/notification";
constexpr const char kAcknowledgeTemplate[] =
    "/hxa-player-messaging/v1/notification/{id}/acknowledge";
constexpr const char kAcknowledgePath[] = "/hxa-player-messaging/v1/notification/42/acknowledge";

Head SampleHead() { return Head{7, "m-1", "Welcome", "Your reward is waiting.", 1}; }

// A module's registry and router with the two endpoints, and their API block.
struct Fixture {
  Fixture() {
    registry.RegisterStruct<Head>("Head")
        .AddField("id", &Head::id)
        .AddField("msgId", &Head::msgId)
        .AddField("title", &Head::title)
        .AddField("text", &Head::text)
        .AddField("status", &Head::status);
    read = router.RegisterEndpoint(HttpMethod::Get, kReadPath, [] { return SampleHead(); });
    acknowledge = router.RegisterEndpoint(HttpMethod::Delete, kAcknowledgeTemplate,
                                          [](std::int32_t id) {
                                            benchmark::DoNotOptimize(id);
                                            return MaybeType<Failure, void>();
                                          },
                                          {PathArgument("id")});
    block = router.BuildApiBlock();
  }

  // The registration the host passes back for `function`.
  const void* Registration(const EndpointFunction* function) const {
    for (const auto* d = block.descriptors; d != nullptr; d = d->next) {
      const char* name = d->function.name;
      if (function->name == name) return d->function.registration;
    }
    return nullptr;
  }

  BindingRegistry registry;
  Router router{registry};
  EndpointFunction* read = nullptr;
  EndpointFunction* acknowledge = nullptr;
  Abi::PluginApiBlock block{};
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

void RoundTrip(benchmark::State& state, const EndpointFunction* function, std::int32_t method,
               const char* path) {
  Fixture& fixture = Shared();
  Abi::HttpRequestRecord request{};
  request.method = method;
  request.path = path;
  request.endpoint = fixture.Registration(function);
  Abi::HttpResponseRecord response{};
  for (auto _ : state) {
    RouterRequestEntry(&response, &request);
    if (response.failed != 0) state.SkipWithError(response.errorText);
    response.release(&response);
  }
}

void BM_GetRoundTrip(benchmark::State& state) {
  RoundTrip(state, Shared().read, Abi::kHttpMethodGet, kReadPath);
}
BENCHMARK(BM_GetRoundTrip);

// What the GET cannot avoid: the result record to a value, the value to a host value,
// and the host value's release.
void BM_GetFloor(benchmark::State& state) {
  Fixture& fixture = Shared();
  for (auto _ : state) {
    BindingResult value;
    ToValue(value, SampleHead(), fixture.registry);
    Abi::HostValue host{};
    ValueToHost(host, value.value, &fixture.registry);
    ReleaseHostValue(host);
  }
}
BENCHMARK(BM_GetFloor);

void BM_DeleteRoundTrip(benchmark::State& state) {
  RoundTrip(state, Shared().acknowledge, Abi::kHttpMethodDelete, kAcknowledgePath);
}
BENCHMARK(BM_DeleteRoundTrip);

// The DELETE's floor: its result is an outcome, so only an empty value crosses.
void BM_DeleteFloor(benchmark::State& state) {
  Fixture& fixture = Shared();
  for (auto _ : state) {
    BindingProperty value;
    Abi::HostValue host{};
    ValueToHost(host, value, &fixture.registry);
    ReleaseHostValue(host);
  }
}
BENCHMARK(BM_DeleteFloor);

// The DELETE's parts, one by one.
Abi::HttpRequestRecord DeleteRequest() {
  Abi::HttpRequestRecord request{};
  request.method = Abi::kHttpMethodDelete;
  request.path = kAcknowledgePath;
  return request;
}

void BM_DeleteMatch(benchmark::State& state) {
  const EndpointFunction* routes[] = {Shared().acknowledge};
  const Abi::HttpRequestRecord request = DeleteRequest();
  for (auto _ : state) {
    RouteCaptures captures;
    std::size_t count = 0;
    benchmark::DoNotOptimize(Router::Match(routes, request, captures, count));
  }
}
BENCHMARK(BM_DeleteMatch);

void BM_DeleteBind(benchmark::State& state) {
  const EndpointFunction& function = *Shared().acknowledge;
  const Abi::HttpRequestRecord request = DeleteRequest();
  const RouteCaptures captures{{"id", "42"}};
  for (auto _ : state) {
    EndpointCall call;
    benchmark::DoNotOptimize(
        BindRequestArguments(function, request, captures, 1, call.arguments).Failed());
  }
}
BENCHMARK(BM_DeleteBind);

// Prepare (conversion to the native argument), invoke, release, with the call state set
// up as binding leaves it (pausing the timer would cost more than what is measured).
void BM_DeleteInvoke(benchmark::State& state) {
  EndpointHandler& handler = *Shared().acknowledge->handler;
  for (auto _ : state) {
    EndpointCall call;
    call.arguments.resize(1);
    call.arguments[0].SetString("42");
    const EndpointHandler::Token token = handler.Prepare(call, 0);
    handler.Invoke(call, nullptr, token, 0);
    if (token != 0) handler.Release(token);
  }
}
BENCHMARK(BM_DeleteInvoke);

void BM_DeleteFill(benchmark::State& state) {
  Fixture& fixture = Shared();
  for (auto _ : state) {
    HttpResponseSettings settings;
    Abi::HttpResponseRecord response{};
    FillResponseRecord(settings, &fixture.registry, response);
    response.release(&response);
  }
}
BENCHMARK(BM_DeleteFill);

// The route compiled once at registration against compiling the template per call.
void BM_RouteCached(benchmark::State& state) {
  const Route route = Route::Compile(kAcknowledgeTemplate).Value();
  for (auto _ : state) {
    RouteCaptures captures;
    std::size_t length = 0;
    benchmark::DoNotOptimize(route.Match(kAcknowledgePath, captures, length));
  }
}
BENCHMARK(BM_RouteCached);

void BM_RouteCompiledPerCall(benchmark::State& state) {
  for (auto _ : state) {
    RouteCaptures captures;
    std::size_t length = 0;
    benchmark::DoNotOptimize(
        Route::Compile(kAcknowledgeTemplate).Value().Match(kAcknowledgePath, captures, length));
  }
}
BENCHMARK(BM_RouteCompiledPerCall);

}  // namespace
}  // namespace Kavren

BENCHMARK_MAIN();
