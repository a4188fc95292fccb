// Tests of the host-forwarding target and its installation when the module starts.
#include "log/plugin_log_target.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "log/log_manager.h"

namespace Kavren {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

// What the fake host's Log function received: (table, level, message).
struct HostLine {
  Abi::HostFunctions* table;
  std::int32_t level;
  std::string message;
};
std::vector<HostLine> gHostLines;

void HXA_CDECL FakeHostLog(Abi::HostFunctions* self, std::int32_t level, const char* message) {
  gHostLines.push_back({self, level, message});
}

std::vector<std::pair<std::int32_t, std::string>> HostMessages() {
  std::vector<std::pair<std::int32_t, std::string>> lines;
  for (const HostLine& line : gHostLines) lines.emplace_back(line.level, line.message);
  return lines;
}

class PluginLogTargetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gHostLines.clear();
    host_.Log = FakeHostLog;
    api_.Acquire();
  }
  void TearDown() override {
    moduleTarget_.reset();
    api_.Release();
  }

  const LogApi& api_ = GetLogApi();
  Abi::HostFunctions host_{};
  std::unique_ptr<PluginLogTarget> moduleTarget_;
};

TEST_F(PluginLogTargetTest, InstallReplacesTheConsoleTargets) {
  EXPECT_TRUE(InstallPluginLogTarget(&host_, moduleTarget_));
  ASSERT_NE(moduleTarget_, nullptr);
  EXPECT_FALSE(api_.StdErrTarget()->IsAttached(api_.StdErrTarget()));
  EXPECT_FALSE(api_.StdOutTarget()->IsAttached(api_.StdOutTarget()));
  EXPECT_FALSE(api_.DebuggerTarget()->IsAttached(api_.DebuggerTarget()));
  EXPECT_EQ(api_.GetMinimumLevel(), kLogLevelOkay);
  EXPECT_EQ(api_.GetExcludedGroups(), kLogGroupXtr);

  EXPECT_EQ(api_.FindTarget("PluginLogTarget"), moduleTarget_->Entry());
  EXPECT_EQ(moduleTarget_->Host(), &host_);
  EXPECT_EQ(moduleTarget_->GetLevel(), kLogLevelOkay);
  EXPECT_EQ(moduleTarget_->GetIncludedGroups(), 0u);
  EXPECT_EQ(moduleTarget_->GetExcludedGroups(), 0u);
  EXPECT_STREQ(moduleTarget_->GetPattern(), "#D| #L| #G| #M");

  // The host receives the level and the plain message, not the rendered line.
  LogPrintf(kLogLevelOkay, static_cast<std::uint32_t>(kLogGroupDbg), 0, "Handling %s", "ack");
  LogPrintf(kLogLevelError, static_cast<std::uint32_t>(kLogGroupXtr), 0, "dropped");
  LogPrintf(kLogLevelAlways, 0, 0, "line\n");
  EXPECT_THAT(HostMessages(), ElementsAre(Pair(0, "Handling ack"), Pair(3, "line\n")));
  ASSERT_FALSE(gHostLines.empty());
  EXPECT_EQ(gHostLines[0].table, &host_);
}

TEST_F(PluginLogTargetTest, SecondInstallLeavesTheFirstTargetAndSettings) {
  ASSERT_TRUE(InstallPluginLogTarget(&host_, moduleTarget_));
  api_.SetMinimumLevel(kLogLevelError);
  api_.SetExcludedGroups(kLogGroupNet);

  Abi::HostFunctions otherHost{};
  otherHost.Log = FakeHostLog;
  std::unique_ptr<PluginLogTarget> otherModuleTarget;
  EXPECT_TRUE(InstallPluginLogTarget(&otherHost, otherModuleTarget));
  EXPECT_EQ(otherModuleTarget, nullptr);
  EXPECT_EQ(api_.GetMinimumLevel(), kLogLevelError);
  EXPECT_EQ(api_.GetExcludedGroups(), kLogGroupNet);
  EXPECT_EQ(api_.FindTarget("PluginLogTarget"), moduleTarget_->Entry());
}

TEST_F(PluginLogTargetTest, InstallDestroysTheModulesEarlierDetachedTarget) {
  ASSERT_TRUE(InstallPluginLogTarget(&host_, moduleTarget_));
  moduleTarget_->Detach();
  Abi::HostFunctions newHost{};
  newHost.Log = FakeHostLog;
  EXPECT_TRUE(InstallPluginLogTarget(&newHost, moduleTarget_));
  ASSERT_NE(moduleTarget_, nullptr);
  EXPECT_EQ(moduleTarget_->Host(), &newHost);
  EXPECT_EQ(api_.FindTarget("PluginLogTarget"), moduleTarget_->Entry());
  LogPrintf(kLogLevelWarn, 0, 0, "to the new host");
  ASSERT_EQ(gHostLines.size(), 1u);
  EXPECT_EQ(gHostLines[0].table, &newHost);
}

TEST_F(PluginLogTargetTest, DestroyingTheTargetDetachesIt) {
  ASSERT_TRUE(InstallPluginLogTarget(&host_, moduleTarget_));
  moduleTarget_.reset();
  EXPECT_EQ(api_.FindTarget("PluginLogTarget"), nullptr);
  LogPrintf(kLogLevelAlways, 0, 0, "nobody listens");
  EXPECT_TRUE(gHostLines.empty());
}

TEST_F(PluginLogTargetTest, HostTableWithoutLogStillReportsSuccess) {
  Abi::HostFunctions silent{};
  PluginLogTarget target(&silent);
  EXPECT_STREQ(target.GetName(), "PluginLogTarget");
  LogRecord record{};
  EXPECT_TRUE(target.Write(record));
  PluginLogTarget noHost(nullptr);
  EXPECT_TRUE(noHost.Write(record));
}

}  // namespace
}  // namespace Kavren
