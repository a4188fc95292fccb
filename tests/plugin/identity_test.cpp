// The full-name rule of plugins and the plugin-API compatibility test.
#include "plugin/identity.h"

#include <gtest/gtest.h>

#include "log/log.h"
#include "plugin/api_version.h"
#include "support/capturing_log_target.h"

namespace Kavren {
namespace {

struct NamingCase {
  const char* shortName;
  PluginType type;
  const char* fullName;
  const char* logged;  // null: nothing logged
};

TEST(IdentityTest, FullNameFromShortNameAndType) {
  const NamingCase cases[] = {
      {"hxa-player-messaging", {"backend", ""}, "qdx-be-hxa-player-messaging", nullptr},
      {"hxa-player-messaging", {"frontend", ""}, "qdx-fe-hxa-player-messaging", nullptr},
      {"", {"backend", ""}, "qdx-be-", nullptr},
      {"Mixed_Case", {"backend", "extra"}, "qdx-be-Mixed_Case", nullptr},
      {"hxa-x",
       {"Backend", ""},
       "qdx-xx-hxa-x",
       "            Plugin Manager| GetFullNameFromShortNameAndType(\"hxa-x\", \"Backend:\") "
       "called "
       "with an unknown type"},
      {"",
       {"tool", "cli"},
       "qdx-xx-",
       "            Plugin Manager| GetFullNameFromShortNameAndType(\"\", \"tool:cli\") called "
       "with "
       "an unknown type"},
  };
  for (const NamingCase& row : cases) {
    SCOPED_TRACE(row.fullName);
    Testing::CapturingLogTarget capture{Testing::CapturingLogTarget::EveryRecord()};
    EXPECT_EQ(GetFullNameFromShortNameAndType(row.shortName, row.type), row.fullName);
    const auto records = capture.Records();
    if (row.logged == nullptr) {
      EXPECT_TRUE(records.empty());
    } else {
      ASSERT_EQ(records.size(), 1u);
      EXPECT_EQ(records[0].level, kLogLevelError);
      EXPECT_EQ(records[0].groups, kLogGroupDbg);
      EXPECT_EQ(records[0].message, row.logged);
    }
  }
}

TEST(IdentityTest, PredefinedTypes) {
  EXPECT_EQ(BackendPluginType(), (PluginType{"backend", ""}));
  EXPECT_EQ(FrontendPluginType(), (PluginType{"frontend", ""}));
}

struct CompatibilityCase {
  PluginApiVersion plugin;
  PluginApiVersion core;
  bool compatible;
};

TEST(ApiVersionTest, IsCompatible) {
  const PluginApiVersion own = OwnPluginApiVersion();
  const CompatibilityCase cases[] = {
      {own, {18, 0, 0, {}, {}}, true},
      {own, {18, 0, 5, {}, {}}, true},
      {own, {18, 4, 0, {}, {}}, true},
      {own, {18, 3, 1, {}, {}}, true},
      {own, {17, 9, 9, {}, {}}, false},
      {own, {19, 0, 0, {}, {}}, false},
      {own, {0xFFFFFFFFu, 0, 0, {}, {}}, false},
      {{18, 1, 0, {}, {}}, {18, 0, 0, {}, {}}, false},      // core minor lower
      {{18, 1, 5, {}, {}}, {18, 1, 4, {}, {}}, false},      // same minor, core patch lower
      {{18, 1, 5, {}, {}}, {18, 2, 0, {}, {}}, true},       // higher minor wins over patch
      {{18, 0, 0, "beta", "7"}, {18, 0, 0, {}, {}}, true},  // labels play no part
  };
  for (const CompatibilityCase& row : cases) {
    SCOPED_TRACE(VersionText(row.plugin) + " / " + VersionText(row.core));
    EXPECT_EQ(IsCompatible(row.plugin, row.core), row.compatible);
  }
  EXPECT_EQ(VersionText(own), "18.0.0");
}

}  // namespace
}  // namespace Kavren
