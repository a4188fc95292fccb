// Stop on one host thread while another is inside the built plugin: in a job, or in an
// acknowledgement whose server call the host answers only after Stop; and requests to one
// module while another module of the same library loads and stops.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "abi/http.h"
#include "host/core/development_host.h"
#include "host/core/document.h"
#include "host/core/messages.h"
#include "host/core/plugin_library.h"
#include "interposed_host_support.h"
#include "support/built_plugin.h"
#include "support/host_outcome.h"

namespace Kavren::Host {
namespace {

constexpr char kMessage[] = R"({"type": "pss-player-message", "msgId": "m", "params": ["{}"]})";
constexpr char kAcknowledgeTemplate[] = "/hxa-player-messaging/v1/notification/{id}/acknowledge";

// A flag one thread raises and another waits for.
class Signal {
 public:
  void Raise() {
    {
      std::lock_guard lock(mutex_);
      raised_ = true;
    }
    changed_.notify_all();
  }
  void Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return raised_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool raised_ = false;
};

std::uint64_t InUse(const Abi::PluginMemoryStats& stats) {
  return stats.allocatedBytes - stats.freedBytes;
}

class PluginLifecycleConcurrencyTest : public Testing::BuiltPluginTest {
 protected:
  static void SetUpTestSuite() {
    BuiltPluginTest::SetUpTestSuite();
    // One whole cycle with the traffic of the tests first: what lives for the process
    // (type identities, the log manager's storage) exists from then on.
    DevelopmentHost host(0x484F5354, 0);
    rapidjson::Document body;
    ASSERT_TRUE(Succeeded(ParseJsonText(kMessage, body)));
    ASSERT_TRUE(LoadAndStart(host, &body));
    const MaybeType<Failure, std::size_t> pushed =
        host.PushServerMessage(body, HostMessages::kSimpleDialogMessageClass);
    ASSERT_TRUE(Succeeded(pushed));
    ASSERT_EQ(pushed.Value(), 1u);
    host.RunPendingJobs();
    EndpointCall acknowledge;
    acknowledge.method = Abi::kHttpMethodDelete;
    acknowledge.path = "/hxa-player-messaging/v1/notification/1/acknowledge";
    const MaybeType<Failure, EndpointReply> reply = host.CallEndpoint(acknowledge);
    ASSERT_TRUE(Succeeded(reply));
    ASSERT_TRUE(Succeeded(reply.Value().outcome));
    host.Stop();
    settled_ = InUse(host.MemoryStats());
  }
  static inline std::uint64_t settled_ = 0;
};

TEST_F(PluginLifecycleConcurrencyTest, StopWhileAJobRunsOnAnotherThread) {
  DevelopmentHost host(0x484F5354, 0);
  ASSERT_TRUE(Load(host));
  InterposedHost interposed(host);
  interposed.HoldJobs();
  ASSERT_TRUE(interposed.Start());
  rapidjson::Document body;
  ASSERT_TRUE(Succeeded(ParseJsonText(kMessage, body)));
  const MaybeType<Failure, std::size_t> pushed =
      host.PushServerMessage(body, HostMessages::kSimpleDialogMessageClass);
  ASSERT_TRUE(Succeeded(pushed));
  ASSERT_EQ(pushed.Value(), 1u);
  const std::vector<HeldJob> jobs = interposed.TakeHeldJobs();
  ASSERT_EQ(jobs.size(), 1u);

  // The job's announcement blocks in the host until Stop has returned.
  Signal publishing;
  Signal stopped;
  interposed.OnPublish([&](const Abi::HostEventRecord&) {
    publishing.Raise();
    stopped.Wait();
  });
  std::thread job([&] { jobs[0].callback(jobs[0].context); });
  publishing.Wait();
  interposed.Stop();
  stopped.Raise();
  job.join();
  // The job's second publication and everything after Stop stayed with the plugin.
  EXPECT_EQ(interposed.CallsSinceStop(), 0u);
  EXPECT_EQ(InUse(host.MemoryStats()), settled_);
}

TEST_F(PluginLifecycleConcurrencyTest, StopWhileAnAcknowledgementAwaitsTheServer) {
  DevelopmentHost host(0x484F5354, 0);
  ASSERT_TRUE(Load(host));
  rapidjson::Document packet;
  ASSERT_TRUE(Succeeded(ParseJsonText(R"({"simpleMessages": [{"type": "pss-player-message",
                                "msgId": "m", "params": ["{}"]}]})",
                                      packet)));
  ASSERT_TRUE(Succeeded(host.SetLoginDataPacket(packet)));
  InterposedHost interposed(host);
  ASSERT_TRUE(interposed.Start());
  const auto acknowledge = interposed.FindEndpoint(Abi::kHttpMethodDelete, kAcknowledgeTemplate);

  // The server call is answered, with success, only once Stop has returned.
  Signal calling;
  Signal stopped;
  interposed.OnCall([&](Abi::HttpResponseRecord&, const Abi::HttpRequestRecord& request) {
    if (std::strcmp(request.path, HostMessages::kSessionInvokePath) == 0) {
      calling.Raise();
      stopped.Wait();
    }
    return false;
  });
  std::string reply;
  std::thread userInterface([&] {
    reply = InterposedHost::CallEndpoint(acknowledge, Abi::kHttpMethodDelete,
                                         "/hxa-player-messaging/v1/notification/1/acknowledge");
  });
  calling.Wait();
  interposed.Stop();
  stopped.Raise();
  userInterface.join();
  EXPECT_EQ(reply, "500 The module stopped during POST /hxa-login/v1/session/invoke null");
  EXPECT_EQ(interposed.CallsSinceStop(), 0u);
  EXPECT_EQ(InUse(host.MemoryStats()), settled_);
}

// Three host threads call the first module's endpoint while a fourth loads a second
// module from the same library and stops it, again and again: every request reaches the
// first module, whose head differs from the second's empty one.
TEST_F(PluginLifecycleConcurrencyTest, RequestsWhileAnotherModuleLoadsAndStops) {
  DevelopmentHost host(0x484F5354, 0);
  rapidjson::Document body;
  ASSERT_TRUE(Succeeded(ParseJsonText(kMessage, body)));
  ASSERT_TRUE(LoadAndStart(host, &body));
  ASSERT_TRUE(Succeeded(host.PushServerMessage(body, HostMessages::kSimpleDialogMessageClass)));
  host.RunPendingJobs();
  InterposedHost interposed(host);
  const auto get =
      interposed.FindEndpoint(Abi::kHttpMethodGet, "/hxa-player-messaging/v1/notification");
  const std::string expected = InterposedHost::CallEndpoint(
      get, Abi::kHttpMethodGet, "/hxa-player-messaging/v1/notification");
  ASSERT_EQ(expected, R"(0 - {"body":"","id":1,"msgId":"m","status":1,"title":""})");

  std::atomic<bool> loading{true};
  std::atomic<int> wrong{0};
  std::vector<std::thread> callers;
  for (int thread = 0; thread < 3; ++thread) {
    callers.emplace_back([&] {
      while (loading.load()) {
        const std::string reply = InterposedHost::CallEndpoint(
            get, Abi::kHttpMethodGet, "/hxa-player-messaging/v1/notification");
        if (reply != expected) ++wrong;
      }
    });
  }
  for (int round = 0; round < 40; ++round) {
    DevelopmentHost second(2, 0);
    ASSERT_TRUE(Load(second));
    second.Stop();
  }
  loading.store(false);
  for (std::thread& caller : callers) caller.join();
  EXPECT_EQ(wrong.load(), 0);
  host.Stop();
}

// Found by hxa-host validate under ThreadSanitizer: the host interface Start stores was
// read without synchronisation by an endpoint call on another thread.
TEST_F(PluginLifecycleConcurrencyTest, StartWhileAnotherThreadCallsAnEndpoint) {
  DevelopmentHost host(0x484F5354, 0);
  ASSERT_TRUE(Load(host));
  InterposedHost interposed(host);
  const auto acknowledge = interposed.FindEndpoint(Abi::kHttpMethodDelete, kAcknowledgeTemplate);
  Signal calling;
  std::thread userInterface([&] {
    calling.Raise();
    for (int call = 0; call < 1000; ++call) {
      const std::string reply =
          InterposedHost::CallEndpoint(acknowledge, Abi::kHttpMethodDelete,
                                       "/hxa-player-messaging/v1/notification/1/acknowledge");
      ASSERT_EQ(reply.substr(0, 13), "404 Not found");
    }
  });
  calling.Wait();
  EXPECT_TRUE(interposed.Start());
  userInterface.join();
  interposed.Stop();
  EXPECT_EQ(interposed.CallsSinceStop(), 0u);
}

}  // namespace
}  // namespace Kavren::Host
