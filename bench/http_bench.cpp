// The round trip of a GET of the notification head: in process through the endpoint's
// descriptor, and over HTTP on 127.0.0.1 through the development server, with one
// and with sixteen connections (requests per second as items_per_second).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "host/core/document.h"
#include "host/core/plugin_library.h"
#include "host/server/development_server.h"

namespace Kavren::Host {
namespace {

constexpr char kHeadUri[] = "/hxa-player-messaging/v1/notification";

// The built plugin, started with one notification, behind a server; made once.
struct Served {
  Served() {
    if (!library.Open(HXA_PLUGIN_PATH)) return;
    rapidjson::Document packet;
    if (LoadDocumentFile(HXA_SOURCE_DIR "/examples/login-data-packet.json", packet).Failed() ||
        host.SetLoginDataPacket(packet).Failed() || !host.Load(library, CoreVersion{}) ||
        !host.Start() || server.Bind().Failed()) {
      return;
    }
    server.Start();
    ready = true;
  }
  ~Served() {
    server.Shutdown();
    host.Stop();
  }

  PluginLibrary library;
  DevelopmentHost host;
  DevelopmentServer server{host, ServerSettings{}};
  bool ready = false;
};

Served& Instance() {
  static Served served;
  return served;
}

void InProcessGet(benchmark::State& state) {
  Served& served = Instance();
  if (!served.ready) return state.SkipWithError("the plugin could not be served");
  EndpointCall call;
  call.path = kHeadUri;
  for (auto _ : state) {
    const MaybeType<Failure, EndpointReply> reply = served.host.CallEndpoint(call);
    benchmark::DoNotOptimize(reply);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(InProcessGet)->UseRealTime();

// Each benchmark thread is one keep-alive connection.
void HttpGet(benchmark::State& state) {
  Served& served = Instance();
  if (!served.ready) return state.SkipWithError("the plugin could not be served");
  httplib::Client client("127.0.0.1", served.server.Port());
  client.set_keep_alive(true);
  client.set_tcp_nodelay(true);
  for (auto _ : state) {
    const auto reply = client.Get(kHeadUri);
    if (!reply || reply->status != 200) return state.SkipWithError("a GET failed");
    benchmark::DoNotOptimize(reply->body.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(HttpGet)->Threads(1)->Threads(16)->UseRealTime();

}  // namespace
}  // namespace Kavren::Host

BENCHMARK_MAIN();
