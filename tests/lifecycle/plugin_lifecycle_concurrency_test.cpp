// Stop on one host thread while another is inside the built plugin: in a job, or in an
// acknowledgement whose server call the host answers only after Stop.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "abi/http.h"
#include "host/development_host.h"
#include "host/document.h"
#include "host/messages.h"
#include "host/plugin_library.h"
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
        host.PushServerMessage(body, Messages::kSimpleDialogMessageClass);
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
  ASSERT_TRUE(host.Load(Library(), CoreVersion{18, 0, 0}));
  InterposedHost interposed(host);
  interposed.HoldJobs();
  ASSERT_TRUE(interposed.Start());
  rapidjson::Document body;
  ASSERT_TRUE(Succeeded(ParseJsonText(kMessage, body)));
  const MaybeType<Failure, std::size_t> pushed =
      host.PushServerMessage(body, Messages::kSimpleDialogMessageClass);
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
  ASSERT_TRUE(host.Load(Library(), CoreVersion{18, 0, 0}));
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
    if (std::strcmp(request.path, Messages::kSessionInvokePath) == 0) {
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

}  // namespace
}  // namespace Kavren::Host
