// The plugin's entry points that take outside data or run a host callback, with each of
// their allocations refused in turn: the load, the request entry of every endpoint, an
// acknowledge with its server call, the push event and its job, the login data packet on
// its resource event and at Start, Start itself and Stop. Each run reports the failure in
// the entry point's own way, leaks nothing (bytes and blocks), leaves the stores as they
// were or consistent, and the module serves correctly afterwards. Each run also keeps
// what the host relies on: a failed reply carries a text, every job a label, Stop
// releases every subscription, and the logs reach a target.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "failing_heap_support.h"
#include "log/log_manager.h"
#include "sweep_host_support.h"

namespace Kavren::Testing {
namespace {

using Client::PlayerMessaging::Celebration;
using Client::PlayerMessaging::Notification;
using ::testing::IsEmpty;

constexpr char kPacketEvent[] = "OnJsonApiEvent_hxa-login_v1_login-data-packet";
constexpr char kMessageEvent[] =
    "OnQrmsEvent_com_kavrengames_platform_messaging_persistence_SimpleDialogMessage";
constexpr char kGetNotification[] = "GetHxaPlayerMessagingV1Notification";
constexpr char kGetCelebration[] = "GetHxaPlayerMessagingV1CelebrationNotification";
constexpr char kAckNotification[] = "DeleteHxaPlayerMessagingV1NotificationByIdAcknowledge";
constexpr char kAckCelebration[] =
    "DeleteHxaPlayerMessagingV1CelebrationNotificationByIdAcknowledge";
constexpr char kNotificationPath[] = "/hxa-player-messaging/v1/notification";
constexpr char kCelebrationPath[] = "/hxa-player-messaging/v1/celebration/notification";
constexpr std::int32_t kGet = 2;
constexpr std::int32_t kDelete = 1;

std::string Message(const std::string& msgId, const std::string& type, const std::string& params) {
  return R"({"accountId":9,"msgId":")" + msgId + R"(","type":")" + type +
         R"(","titleCode":"TC","bodyCode":"BC","params":)" + params + "}";
}

// Two player messages and a celebration; the stores read "Welcome", "Again" and "gem".
const std::string kPacket =
    R"({"allVelkinData":{"velkin":{"acctId":700123,"velId":4410}},"simpleMessages":[)" +
    Message("p1", "pss-player-message", R"(["{\"title\":\"Welcome\",\"message\":\"Hi\"}"])") + "," +
    Message("p2", "pss-player-message", R"(["{\"title\":\"Again\"}"])") + "," +
    Message("c1", "dynamic-celebration", R"(["type","msg","inv","gem","2"])") + "]}";

// A server push of one player message, titled "Pushed".
const std::string kPush =
    R"({"clientId":"c","subtopic":"s","typeName":"com.kavrengames.platform.messaging.)"
    R"(persistence.SimpleDialogMessage","body":)" +
    Message("p9", "pss-player-message", R"(["{\"title\":\"Pushed\"}"])") + "}";

const std::vector<std::string> kPacketTitles = {"Welcome", "Again"};
const std::vector<std::string> kPacketItems = {"gem"};

std::vector<std::string> Titles(const std::vector<Notification>& records) {
  std::vector<std::string> titles;
  for (const Notification& record : records) titles.push_back(record.title);
  return titles;
}

std::vector<std::string> Items(const std::vector<Celebration>& records) {
  std::vector<std::string> items;
  for (const Celebration& record : records) items.push_back(record.itemId);
  return items;
}

bool IsPrefix(const std::vector<std::string>& part, const std::vector<std::string>& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

// The outcome of a call that reports through the host's log: "ok", or the last error.
void LoggedOutcome(const SweepHost& host, SweepOutcome& outcome) {
  if (host.Errors().empty()) {
    outcome = "ok";
  } else {
    outcome = "logged: ";
    outcome += host.Errors().back();
  }
}

// The outcome of an endpoint call: "ok", or status and failure text.
void AnswerOutcome(const EndpointAnswer& answer, SweepOutcome& outcome) {
  if (!answer.failed && answer.errorText.empty()) {
    outcome = "ok";
  } else if (!answer.failed || answer.errorText.empty()) {
    outcome = "WRONG: failed " + std::to_string(answer.failed) + ", status " +
              std::to_string(answer.status) + ", text '" + answer.errorText + "'";
  } else {
    outcome = std::to_string(answer.status) + " " + answer.errorText;
  }
}

// What the host relies on whatever the heap refused: the plugin's logs reach a target,
// the host's when the plugin runs.
void ExpectLogsReachATarget(bool started, SweepOutcome& outcome) {
  const LogApi& api = GetLogApi();
  LogTargetEntry* console = api.StdErrTarget();
  const bool hostTarget = api.FindTarget("PluginLogTarget") != nullptr;
  if (started ? !hostTarget : !(hostTarget || console->IsAttached(console))) {
    outcome.Prefix("WRONG: no log target after ");
  }
}

// Delivers the event `name` with the heap refusing; then "ok" or what the plugin logged.
// False when the event has no subscriber.
bool DeliverRefused(SweepHost& host, const char* name, const std::string& payload,
                    SweepOutcome& outcome) {
  bool delivered = false;
  {
    RefusalWindow window;
    delivered = host.Deliver(name, payload);
  }
  if (!delivered) {
    outcome = "WRONG: no subscriber";
    return false;
  }
  LoggedOutcome(host, outcome);
  return true;
}

// True when `plugin` serves the heads of both stores through its read endpoints.
bool ServesHeads(SweepPlugin& plugin) {
  auto& service = plugin.Module().Service();
  const EndpointAnswer notification = plugin.Request(kGetNotification, kGet, kNotificationPath);
  const EndpointAnswer celebration = plugin.Request(kGetCelebration, kGet, kCelebrationPath);
  const auto hasId = [](const EndpointAnswer& answer, std::int32_t id) {
    return answer.errorText.empty() &&
           answer.json.find(R"("id":)" + std::to_string(id) + ",") != std::string::npos;
  };
  return hasId(notification, service.HeadNotification().id) &&
         hasId(celebration, service.HeadCelebration().id);
}

void ExpectClean(const SweepReport& report, const std::vector<std::string>& allowed) {
  EXPECT_GT(report.allocations, 0u);
  EXPECT_THAT(report.faults, IsEmpty());
  for (const auto& [text, count] : report.outcomes) {
    EXPECT_THAT(allowed, ::testing::Contains(text)) << count << " runs";
  }
}

// A started plugin whose stores are set back to the same records before every run.
class StartedPluginSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.SetPacket(std::nullopt);
    ASSERT_TRUE(plugin_.Start(host_));
    Reset();
    initialNotifications_ = Service().Notifications();
    initialCelebrations_ = Service().Celebrations();
  }

  Client::PlayerMessaging::NotificationService& Service() { return plugin_.Module().Service(); }

  void Reset() {
    Service().ClearStores();
    Service().SetAccountId(42);
    for (const auto& [id, msgId, title] :
         {std::tuple{1, "", "first"}, std::tuple{2, "m2", "second"}, std::tuple{3, "", "third"}}) {
      Notification record;
      record.id = id;
      record.msgId = msgId;
      record.title = title;
      record.status = 1;
      Service().AddNotification(record);
    }
    for (const auto& [id, msgId, item] :
         {std::tuple{1, "", "sword"}, std::tuple{2, "c2", "shield"}}) {
      Celebration record;
      record.id = id;
      record.msgId = msgId;
      record.itemId = item;
      record.status = 1;
      Service().AddCelebration(record);
    }
    host_.Forget();
  }

  bool StoresUnchanged() {
    return Service().Notifications() == initialNotifications_ &&
           Service().Celebrations() == initialCelebrations_;
  }

  // Sweeps an endpoint call; `judge` checks the stores after a call that succeeded.
  SweepReport SweepRequest(const std::string& name, const char* function, std::int32_t method,
                           const std::string& path,
                           const std::function<bool(bool succeeded)>& storesFine) {
    return Sweep(
        name,
        [&](SweepOutcome& outcome) {
          EndpointAnswer answer;
          {
            RefusalWindow window;
            answer = plugin_.Request(function, method, path);
          }
          AnswerOutcome(answer, outcome);
          if (!storesFine(outcome == "ok")) outcome.Prefix("WRONG: stores after ");
          if (!ServesHeads(plugin_)) outcome.Prefix("WRONG: serves wrongly after ");
        },
        [this] { Reset(); });
  }

  SweepHost host_;
  SweepPlugin plugin_;
  std::vector<Notification> initialNotifications_;
  std::vector<Celebration> initialCelebrations_;
};

TEST_F(StartedPluginSweep, ReadEndpointsAnswerEveryRefusal) {
  for (const auto& [function, path] : {std::pair{kGetNotification, kNotificationPath},
                                       std::pair{kGetCelebration, kCelebrationPath}}) {
    const SweepReport report = SweepRequest(std::string("request entry ") + function, function,
                                            kGet, path, [this](bool) { return StoresUnchanged(); });
    ExpectClean(report, {"ok", "500 Internal server error"});
  }
}

TEST_F(StartedPluginSweep, AcknowledgeEndpointsAnswerEveryRefusal) {
  for (const auto& [function, path] :
       {std::pair{kAckNotification, std::string(kNotificationPath) + "/1/acknowledge"},
        std::pair{kAckCelebration, std::string(kCelebrationPath) + "/1/acknowledge"}}) {
    // Id 1 is removed, or everything stays (a failure before the removal).
    const bool notification = std::string(function) == kAckNotification;
    const SweepReport report = SweepRequest(std::string("request entry ") + function, function,
                                            kDelete, path, [this, notification](bool succeeded) {
                                              auto notifications = initialNotifications_;
                                              auto celebrations = initialCelebrations_;
                                              if (notification) {
                                                notifications.erase(notifications.begin());
                                              } else {
                                                celebrations.erase(celebrations.begin());
                                              }
                                              const bool removed =
                                                  Service().Notifications() == notifications &&
                                                  Service().Celebrations() == celebrations;
                                              return removed || (!succeeded && StoresUnchanged());
                                            });
    ExpectClean(report, {"ok", "500 Internal server error"});
  }
}

TEST_F(StartedPluginSweep, FailedRequestsKeepTheirTextWhateverIsRefused) {
  // Requests that fail by themselves ("ok" here): a refusal may take the copy of their
  // failure text, which then falls back to 500 "Internal server error".
  for (const auto& [id, failure] :
       {std::pair{"x", "0 Value x for 'id' of type int32 is in an incorrect format"},
        std::pair{"99", "404 Not found"}}) {
    const std::string path = std::string(kNotificationPath) + "/" + id + "/acknowledge";
    const SweepReport report = Sweep(
        std::string("acknowledge of id ") + id,
        [&](SweepOutcome& outcome) {
          EndpointAnswer answer;
          {
            RefusalWindow window;
            answer = plugin_.Request(kAckNotification, kDelete, path);
          }
          AnswerOutcome(answer, outcome);
          if (outcome == failure) {
            outcome = "ok";
          } else if (outcome == "ok") {
            outcome = "WRONG: succeeded";
          }
          if (!StoresUnchanged()) outcome.Prefix("WRONG: stores after ");
        },
        [this] { Reset(); });
    ExpectClean(report, {"ok", "500 Internal server error"});
  }
}

TEST_F(StartedPluginSweep, AcknowledgeWithServerCallAnswersEveryRefusal) {
  const SweepReport report =
      SweepRequest("acknowledge with its server call", kAckNotification, kDelete,
                   std::string(kNotificationPath) + "/2/acknowledge", [this](bool succeeded) {
                     auto notifications = initialNotifications_;
                     notifications.erase(notifications.begin() + 1);
                     const bool removed = Service().Notifications() == notifications &&
                                          Service().Celebrations() == initialCelebrations_;
                     // A completed acknowledgement told the server once.
                     if (succeeded) return removed && host_.Invokes() == 1;
                     return removed || StoresUnchanged();
                   });
  ExpectClean(report, {"ok", "500 Internal server error"});
}

TEST_F(StartedPluginSweep, PushJobSurvivesEveryRefusal) {
  const SweepReport report = Sweep(
      "push job",
      [&](SweepOutcome& outcome) {
        if (!host_.Deliver(kMessageEvent, kPush)) {
          outcome = "WRONG: no subscriber";
          return;
        }
        {
          RefusalWindow window;
          if (!host_.RunJob()) outcome = "WRONG: no job";
        }
        if (!outcome.empty()) return;
        LoggedOutcome(host_, outcome);
        std::vector<std::string> titles = Titles(initialNotifications_);
        const bool unchanged = StoresUnchanged();
        titles.push_back("Pushed");
        const bool added = Titles(Service().Notifications()) == titles &&
                           Service().Celebrations() == initialCelebrations_;
        if (!(added || (!(outcome == "ok") && unchanged))) outcome.Prefix("WRONG: stores after ");
        if (!ServesHeads(plugin_)) outcome.Prefix("WRONG: serves wrongly after ");
      },
      [this] { Reset(); });
  ExpectClean(report, {"ok", "logged: job callback failed: std::bad_alloc"});
}

TEST_F(StartedPluginSweep, PushEventSchedulesALabelledJobOrFails) {
  const SweepReport report = Sweep(
      "push event",
      [&](SweepOutcome& outcome) {
        if (!DeliverRefused(host_, kMessageEvent, kPush, outcome)) return;
        if (host_.UnlabelledJobs() != 0) outcome.Prefix("WRONG: a job without a label after ");
        // The job scheduled runs unrefused, so that nothing stays pending.
        if (host_.RunJob() != (outcome == "ok")) outcome.Prefix("WRONG: job scheduled after ");
      },
      [this] { Reset(); });
  ExpectClean(report, {"ok", "logged: event callback failed: std::bad_alloc"});
}

TEST_F(StartedPluginSweep, LoginPacketEventSurvivesEveryRefusal) {
  const std::string update =
      R"({"uri":"/hxa-login/v1/login-data-packet","eventType":"Update","data":)" + kPacket + "}";
  const SweepReport report = Sweep(
      "login data packet on its resource event",
      [&](SweepOutcome& outcome) {
        if (!DeliverRefused(host_, kPacketEvent, update, outcome)) return;
        // The packet replaces both stores: they hold all of it, or (after a failure)
        // what they held before, or the part of it taken before the failure.
        const auto titles = Titles(Service().Notifications());
        const auto items = Items(Service().Celebrations());
        const bool whole = titles == kPacketTitles && items == kPacketItems;
        const bool partial = IsPrefix(titles, kPacketTitles) &&
                             (items.empty() || (titles == kPacketTitles && items == kPacketItems));
        if (!(whole || (!(outcome == "ok") && (StoresUnchanged() || partial)))) {
          outcome.Prefix("WRONG: stores after ");
        }
        if (!ServesHeads(plugin_)) outcome.Prefix("WRONG: serves wrongly after ");
      },
      [this] { Reset(); });
  ExpectClean(report, {"ok", "logged: event callback failed: std::bad_alloc"});
}

// Start, with the allocation refused counted from `fromPacket` on: from the start, or
// from the moment the host has answered the read of the login data packet.
SweepReport SweepStart(const std::string& name, bool fromPacket) {
  return Sweep(name, [fromPacket](SweepOutcome& outcome) {
    SweepHost host;
    host.SetPacket(kPacket);
    std::optional<SweepPlugin> plugin;
    plugin.emplace();
    if (!plugin->Loaded()) {
      outcome = "WRONG: not loaded";
      return;
    }
    bool opened = false;
    if (fromPacket) {
      host.afterPacket = [&opened] {
        if (opened) return;
        opened = true;
        OpenRefusalWindow();
      };
    }
    bool started = false;
    if (fromPacket) {
      started = plugin->Start(host);
      if (opened) CloseRefusalWindow();
    } else {
      RefusalWindow window;
      started = plugin->Start(host);
    }
    LoggedOutcome(host, outcome);
    ExpectLogsReachATarget(started, outcome);
    if (!started) outcome.Prefix("Start false, ");
    if (started) {
      // Started: the stores hold the packet, or what was taken of it before a failure.
      const auto titles = Titles(plugin->Module().Service().Notifications());
      const auto items = Items(plugin->Module().Service().Celebrations());
      const bool whole = titles == kPacketTitles && items == kPacketItems;
      if (!(whole || (!(outcome == "ok") && IsPrefix(titles, kPacketTitles) &&
                      IsPrefix(items, kPacketItems)))) {
        outcome.Prefix("WRONG: stores after ");
      }
      if (!ServesHeads(*plugin)) outcome.Prefix("WRONG: serves wrongly after ");
    }
    plugin.reset();
    if (host.LiveSubscriptions() != 0) outcome.Prefix("WRONG: subscriptions left after ");
  });
}

TEST(StartSweep, LoginPacketReadAtStartSurvivesEveryRefusal) {
  const SweepReport report = SweepStart("login data packet read at Start", true);
  ExpectClean(report, {"ok", "logged: event callback failed: std::bad_alloc",
                       "Start false, logged: Start failed: std::bad_alloc"});
}

TEST(StartSweep, StartSurvivesEveryRefusal) {
  const SweepReport report = SweepStart("Start", false);
  // "Start false, ok": the host's log target could not be installed, which Start reports
  // to the console targets it kept.
  ExpectClean(report,
              {"ok", "Start false, ok", "Start false, logged: Start failed: std::bad_alloc"});
}

TEST(StopSweep, StopReleasesEverySubscriptionWhateverIsRefused) {
  const SweepReport report = Sweep("Stop", [](SweepOutcome& outcome) {
    SweepHost host;
    SweepPlugin plugin;
    if (!plugin.Start(host)) {
      outcome = "WRONG: not started";
      return;
    }
    {
      RefusalWindow window;
      plugin.Stop();
    }
    LoggedOutcome(host, outcome);
    if (host.LiveSubscriptions() != 0) outcome.Prefix("WRONG: subscriptions left after ");
  });
  // Stop may allocate nothing at all; what it does allocate may fail without a trace.
  EXPECT_THAT(report.faults, IsEmpty());
  for (const auto& [text, count] : report.outcomes) EXPECT_EQ(text, "ok") << count << " runs";
}

TEST(LoadSweep, AFailedLoadKeepsNothing) {
  SweepPlugin{};  // the plugin's definition, made once for the process
  const SweepReport report = Sweep(
      "load",
      [](SweepOutcome& outcome) {
        std::optional<SweepPlugin> plugin;
        {
          RefusalWindow window;
          plugin.emplace();
        }
        outcome = plugin->Loaded() ? "ok" : "not loaded";
        plugin.reset();
        // With the last hold dropped the log manager goes (a failed load's log line made it
        // again): a hold the load kept would keep it.
        LogManager::Acquire();
        LogManager::Release();
        if (LogManager::Exists()) outcome.Prefix("WRONG: the log manager is still held after ");
      },
      {}, 4000);  // every allocation: a load is quick, and a hold leaks at one of them only
  ExpectClean(report, {"ok", "not loaded"});
}

}  // namespace
}  // namespace Kavren::Testing
