// Tests of resource and server-class event names and of resource path patterns.
#include "plugin/event_names.h"

#include <gtest/gtest.h>

#include <string>

namespace Kavren {
namespace {

struct EventNameCase {
  const char* path;
  const char* expected;
};

TEST(EventNameForUriTest, KeepsThreeSegmentsOrFiveUnderPlatformConfig) {
  const EventNameCase cases[] = {
      {"/hxa-login/v1/session", "OnJsonApiEvent_hxa-login_v1_session"},
      {"/hxa-login/v1/session/extra", "OnJsonApiEvent_hxa-login_v1_session"},
      {"/hxa-login/v1/session/x", "OnJsonApiEvent_hxa-login_v1_session"},
      {"/hxa-player-messaging/v1/notification",
       "OnJsonApiEvent_hxa-player-messaging_v1_notification"},
      {"hxa-login//v1///session/", "OnJsonApiEvent_hxa-login_v1_session"},
      {"/hxa-login", "OnJsonApiEvent_hxa-login"},
      {"/", "OnJsonApiEvent"},
      {"", "OnJsonApiEvent"},
      {"/hxa-platform-config/v1/namespaces/a/b/c/d",
       "OnJsonApiEvent_hxa-platform-config_v1_namespaces_a_b"},
      {"/hxa-platform-config/v1", "OnJsonApiEvent_hxa-platform-config_v1"},
      // Only a first segment selects the longer name.
      {"/x/hxa-platform-config/v1/a/b", "OnJsonApiEvent_x_hxa-platform-config_v1"},
  };
  for (const EventNameCase& row : cases) {
    EXPECT_EQ(EventNameForUri(row.path), row.expected) << row.path;
  }
}

struct PatternCase {
  const char* pattern;
  const char* path;
  bool matches;
};

TEST(ResourcePathMatchesTest, StarMatchesRunsWithinOneSegment) {
  const PatternCase cases[] = {
      {"/hxa-x/v1/*", "/hxa-x/v1/abc", true},
      {"/hxa-x/v1/*", "/hxa-x/v1/", true},
      {"/hxa-x/v1/*", "/hxa-x/v1/a/b", false},
      {"/hxa-x/v1/*", "/hxa-x/v1", false},
      {"/hxa-x/*/items", "/hxa-x/v2/items", true},
      {"/hxa-x/*/items", "/hxa-x/v2/items/1", false},
      {"/hxa-x/v1/item-*-end", "/hxa-x/v1/item-42-end", true},
      {"/hxa-x/v1/item-*-end", "/hxa-x/v1/item--end", true},
      {"/hxa-x/v1/item-*-end", "/hxa-x/v1/item-42-ends", false},
      {"/hxa-x/v1/*a*a", "/hxa-x/v1/banana", true},
      {"/hxa-x/v1/*a*a", "/hxa-x/v1/bananas", false},
      {"/a/**/c", "/a/b/c", true},
      {"/a/*/c", "/a//c", true},
      {"*", "", true},
      {"*", "/", false},
      {"/exact", "/exact", true},
      {"/exact", "/Exact", false},
      {"/exact", "/exactly", false},
      {"/exactly", "/exact", false},
  };
  for (const PatternCase& row : cases) {
    EXPECT_EQ(ResourcePathMatches(row.pattern, row.path), row.matches)
        << row.pattern << " vs " << row.path;
  }
}

TEST(ResourcePathMatchesTest, ManyStarsOnALongSegmentStayFast) {
  // A naive recursive matcher would take exponential time here.
  const std::string pattern = "/" + std::string(40, '*') + "b";
  const std::string path = "/" + std::string(5000, 'a');
  EXPECT_FALSE(ResourcePathMatches(pattern, path));
  EXPECT_TRUE(ResourcePathMatches(pattern, path + "b"));
}

TEST(QrmsEventNameTest, ReplacesEveryDotOfTheName) {
  EXPECT_EQ(QrmsEventName("com.kavrengames.platform.messaging.persistence.SimpleDialogMessage"),
            "OnQrmsEvent_com_kavrengames_platform_messaging_persistence_SimpleDialogMessage");
  EXPECT_EQ(QrmsEventName(""), "OnQrmsEvent_");
  EXPECT_EQ(QrmsEventName("a..b"), "OnQrmsEvent_a__b");
}

}  // namespace
}  // namespace Kavren
