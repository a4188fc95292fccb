// Tests of the log manager: defaults, filters, dispatch, Configure and lifetime.
#include "log/log_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "support/capturing_log_target.h"

namespace Kavren {
namespace {

using Testing::CapturingLogTarget;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

LogTargetSettings Settings(std::int32_t level, std::uint64_t included, std::uint64_t excluded,
                           const char* pattern = "#M") {
  LogTargetSettings settings;
  settings.level = level;
  settings.includedGroups = included;
  settings.excludedGroups = excluded;
  settings.pattern = pattern;
  return settings;
}

// Each test gets a fresh manager: the fixture holds the only reference.
class LogManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { api_.Acquire(); }
  void TearDown() override { api_.Release(); }

  // Keeps the console quiet and leaves only the targets a test attaches.
  void DetachBuiltIns() {
    for (LogTargetEntry* entry :
         {api_.StdOutTarget(), api_.StdErrTarget(), api_.DebuggerTarget()}) {
      entry->Detach(entry);
    }
  }

  const LogApi& api_ = GetLogApi();
};

TEST_F(LogManagerTest, StartsWithDefaultsAndTwoBuiltInTargets) {
  EXPECT_EQ(api_.InterfaceVersion(), 1);
  EXPECT_EQ(api_.GetMinimumLevel(), kLogLevelWarn);
  EXPECT_EQ(api_.GetExcludedGroups(), kLogGroupXtr);
  EXPECT_FALSE(LogManager::IsSuspended());

  struct BuiltIn {
    LogTargetEntry* entry;
    const char* name;
    const char* pattern;
    std::uint64_t included;
    std::uint64_t excluded;
    bool attached;
  };
  const BuiltIn builtIns[] = {
      {api_.StdErrTarget(), "StdErrLogTarget", "#E(#T): #L| #M", kLogGroupDbg, kLogGroupGen, true},
      {api_.StdOutTarget(), "StdOutLogTarget", "#M", kLogGroupGen, kLogGroupDbg, false},
      {api_.DebuggerTarget(), "DebuggerConsoleLogTarget", "#E(#T): #L| #M", kLogGroupDbg, 0, true},
  };
  for (const BuiltIn& b : builtIns) {
    SCOPED_TRACE(b.name);
    EXPECT_EQ(b.entry->InterfaceVersion(b.entry), 1);
    EXPECT_STREQ(b.entry->GetName(b.entry), b.name);
    EXPECT_STREQ(b.entry->GetPattern(b.entry), b.pattern);
    EXPECT_EQ(b.entry->GetLevel(b.entry), kLogLevelWarn);
    EXPECT_EQ(b.entry->GetIncludedGroups(b.entry), b.included);
    EXPECT_EQ(b.entry->GetExcludedGroups(b.entry), b.excluded);
    EXPECT_EQ(b.entry->IsAttached(b.entry), b.attached);
    EXPECT_EQ(api_.FindTarget(b.name), b.attached ? b.entry : nullptr);
  }
  EXPECT_STREQ(api_.ProcessName(), "log_tests");
}

TEST_F(LogManagerTest, ManagerFiltersDropRecordsForEveryTarget) {
  DetachBuiltIns();
  CapturingLogTarget target;
  Configure(target, Settings(kLogLevelOkay, 0, 0));

  LogPrintf(kLogLevelOkay, 0, 0, "dropped: below the minimum level");
  LogPrintf(kLogLevelError, static_cast<std::uint32_t>(kLogGroupXtr | kLogGroupDbg), 0,
            "dropped: excluded group");
  api_.Suspend();
  LogPrintf(kLogLevelAlways, 0, 0, "dropped: suspended");
  api_.Resume();
  LogPrintf(kLogLevelWarn, 0, 0, "kept %d", 1);
  api_.SetMinimumLevel(kLogLevelOkay);
  api_.SetExcludedGroups(0);
  LogPrintf(kLogLevelOkay, static_cast<std::uint32_t>(kLogGroupXtr), 0, "kept %s", "two");
  // The high half of the group mask is bits 32 to 63.
  api_.SetExcludedGroups(1ULL << 32);
  LogPrintf(kLogLevelOkay, 0, 1, "dropped: high group");

  EXPECT_THAT(target.Messages(), ElementsAre("kept 1", "kept two"));
}

TEST_F(LogManagerTest, CountsWarningsAndErrorsEvenWithoutTargets) {
  DetachBuiltIns();
  LogPrintf(kLogLevelWarn, 0, 0, "w");
  LogPrintf(kLogLevelError, 0, 0, "e");
  LogPrintf(kLogLevelError, 0, 0, "e");
  LogPrintf(kLogLevelAlways, 0, 0, "a");
  LogPrintf(kLogLevelOkay, 0, 0, "dropped before counting");
  const LogRecordCounts counts = LogManager::RecordCounts();
  EXPECT_EQ(counts.warnings, 1u);
  EXPECT_EQ(counts.errors, 2u);
}

struct TargetFilterCase {
  const char* name;
  std::int32_t targetLevel;
  std::uint64_t included;
  std::uint64_t excluded;
  std::int32_t level;
  std::uint64_t groups;
  bool written;
};

class TargetFilterTest : public LogManagerTest,
                         public ::testing::WithParamInterface<TargetFilterCase> {};

TEST_P(TargetFilterTest, AppliesLevelAndGroupFilters) {
  const TargetFilterCase& c = GetParam();
  DetachBuiltIns();
  api_.SetMinimumLevel(kLogLevelOkay);
  api_.SetExcludedGroups(0);
  CapturingLogTarget target;
  Configure(target, Settings(c.targetLevel, c.included, c.excluded));
  LogPrintf(c.level, static_cast<std::uint32_t>(c.groups),
            static_cast<std::uint32_t>(c.groups >> 32), "record");
  EXPECT_EQ(target.Records().size(), c.written ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Filters, TargetFilterTest,
    ::testing::Values(
        TargetFilterCase{"BelowTargetLevel", 2, 0, 0, 1, 0, false},
        TargetFilterCase{"AtTargetLevel", 2, 0, 0, 2, 0, true},
        TargetFilterCase{"NoGroupsPassIncluded", 1, kLogGroupDbg, kLogGroupGen, 1, 0, true},
        TargetFilterCase{"IncludedGroup", 1, kLogGroupDbg, kLogGroupGen, 1, kLogGroupDbg, true},
        TargetFilterCase{"ExcludedWins", 1, kLogGroupDbg, kLogGroupGen, 1,
                         kLogGroupDbg | kLogGroupGen, false},
        TargetFilterCase{"NotIncluded", 1, kLogGroupDbg, 0, 1, kLogGroupNet, false},
        TargetFilterCase{"EmptyIncludedTakesAll", 1, 0, kLogGroupGen, 1, kLogGroupNet, true},
        TargetFilterCase{"HighGroupIncluded", 1, 1ULL << 40, 0, 1, 1ULL << 40, true},
        // Included bits that are also excluded are dropped when stored.
        TargetFilterCase{"IncludedAlsoExcluded", 1, kLogGroupDbg | kLogGroupNet, kLogGroupNet, 1,
                         kLogGroupNet, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogManagerTest, ConfigureStoresSettingsAndReattachesAtTheEnd) {
  DetachBuiltIns();
  CapturingLogTarget first;
  CapturingLogTarget second;
  Configure(first, Settings(2, kLogGroupDbg | kLogGroupGen, kLogGroupGen, "[#L] #M"));
  EXPECT_TRUE(first.IsAttached());
  EXPECT_EQ(first.GetLevel(), 2);
  EXPECT_EQ(first.GetIncludedGroups(), kLogGroupDbg);
  EXPECT_EQ(first.GetExcludedGroups(), kLogGroupGen);
  EXPECT_STREQ(first.GetPattern(), "[#L] #M");

  Configure(second, Settings(1, 0, 0));
  EXPECT_EQ(api_.FindTarget("CapturingLogTarget"), first.Entry());
  Configure(first, Settings(1, 0, 0));
  EXPECT_EQ(api_.FindTarget("CapturingLogTarget"), second.Entry());

  LogPrintf(kLogLevelError, 0, 0, "once each");
  EXPECT_THAT(first.Records().at(0).line, "once each\n");
  EXPECT_EQ(first.Records().size(), 1u);
  EXPECT_EQ(second.Records().size(), 1u);
}

TEST_F(LogManagerTest, SetGroupsDropsExcludedBitsFromIncluded) {
  CapturingLogTarget target;
  LogTargetEntry* entry = target.Entry();
  entry->SetGroups(entry, kLogGroupDbg | kLogGroupGen | kLogGroupNet, kLogGroupGen);
  EXPECT_EQ(entry->GetIncludedGroups(entry), kLogGroupDbg | kLogGroupNet);
  EXPECT_EQ(entry->GetExcludedGroups(entry), kLogGroupGen);
  entry->SetLevel(entry, 3);
  EXPECT_EQ(entry->GetLevel(entry), 3);
  EXPECT_FALSE(entry->IsAttached(entry));
  entry->Attach(entry);
  entry->Attach(entry);  // attaching twice keeps one list entry
  EXPECT_TRUE(entry->IsAttached(entry));
  LogPrintf(kLogLevelAlways, 0, 0, "x");
  EXPECT_EQ(target.Records().size(), 1u);
}

TEST_F(LogManagerTest, DetachEntryRemovesEveryOccurrence) {
  DetachBuiltIns();
  CapturingLogTarget target;
  api_.AttachEntry(target.Entry());
  api_.AttachEntry(target.Entry());
  LogPrintf(kLogLevelWarn, 0, 0, "twice");
  api_.DetachEntry(target.Entry());
  LogPrintf(kLogLevelWarn, 0, 0, "not at all");
  EXPECT_THAT(target.Messages(), ElementsAre("twice", "twice"));
}

TEST_F(LogManagerTest, CutsLongMessagesAt4095Characters) {
  DetachBuiltIns();
  CapturingLogTarget target;
  Configure(target, Settings(1, 0, 0));
  const std::string longText(5000, 'z');
  LogPrintf(kLogLevelWarn, 0, 0, "%s", longText.c_str());
  LogPrintf(kLogLevelWarn, 0, 0, nullptr);
  const auto records = target.Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].message, std::string(4095, 'z'));
  EXPECT_EQ(records[1].message, "");
  EXPECT_EQ(records[0].level, kLogLevelWarn);
}

class ThrowingTarget final : public LogTarget {
 public:
  ~ThrowingTarget() override { Detach(); }

 protected:
  bool DoWrite(const LogRecord&) override { throw std::runtime_error("target failed"); }
};

TEST_F(LogManagerTest, AFailingTargetDoesNotStopTheOthers) {
  DetachBuiltIns();
  ThrowingTarget failing;
  CapturingLogTarget target;
  Configure(failing, Settings(1, 0, 0));
  Configure(target, Settings(1, 0, 0));
  EXPECT_FALSE(failing.Write(LogRecord{}));
  LogPrintf(kLogLevelWarn, 0, 0, "still delivered");
  EXPECT_THAT(target.Messages(), ElementsAre("still delivered"));
  EXPECT_STREQ(failing.GetName(), "LogTarget");
}

TEST_F(LogManagerTest, LastReleaseDetachesTargetsAndDestroysTheManager) {
  CapturingLogTarget target;
  Configure(target, Settings(1, 0, 0));
  api_.Acquire();
  api_.Release();
  EXPECT_TRUE(LogManager::Exists());
  api_.Release();
  EXPECT_FALSE(LogManager::Exists());
  EXPECT_FALSE(target.IsAttached());
  api_.Release();  // without a hold: ignored
  EXPECT_FALSE(LogManager::Exists());

  // A log call makes a new manager with the defaults; the fixture's release
  // (balanced by this acquire) destroys it again.
  api_.Acquire();
  api_.SetMinimumLevel(3);
  api_.Release();
  LogPrintf(kLogLevelOkay, 0, 0, "dropped");
  EXPECT_TRUE(LogManager::Exists());
  EXPECT_EQ(api_.GetMinimumLevel(), kLogLevelWarn);
  EXPECT_THAT(target.Messages(), IsEmpty());
  api_.Acquire();
}

TEST_F(LogManagerTest, ApiTableForwardsTheHelpers) {
  LogRecord record{};
  record.level = 2;
  std::snprintf(record.message, sizeof record.message, "m");
  char out[64];
  EXPECT_EQ(api_.RenderLine("#L #M", &record, out, sizeof out), 9u);
  EXPECT_STREQ(out, " ERROR m\n");
  EXPECT_STREQ(api_.LevelTag(0), "  OKAY");
  const LogTime time{2001, 2, 3, 4, 5, 6, 7};
  EXPECT_EQ(api_.FormatTime(&time, out, sizeof out), 23u);
  EXPECT_STREQ(out, "2001-02-03T04:05:06.007");
  EXPECT_EQ(api_.FormatTimeForFileName(&time, out, sizeof out), 19u);
  EXPECT_STREQ(out, "2001-02-03T04-05-06");
  EXPECT_EQ(api_.GroupsToText(kLogGroupPrf | kLogGroupDsk, out, sizeof out), 7u);
  EXPECT_STREQ(out, "PRF;DSK");
  LogTime now{};
  api_.CaptureLocalTime(&now);
  EXPECT_GE(now.year, 2024);
}

}  // namespace
}  // namespace Kavren
