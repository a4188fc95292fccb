// The development host's own parts: version parsing and library opening.
#include "host/development_host.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "host/plugin_library.h"

namespace Kavren::Host {
namespace {

TEST(DevelopmentHostTest, ParseCoreVersion) {
  struct Case {
    const char* text;
    std::optional<CoreVersion> expected;
  };
  const Case cases[] = {
      {"18.0.0", CoreVersion{18, 0, 0}},
      {"19.4.12", CoreVersion{19, 4, 12}},
      {"4294967295.0.1", CoreVersion{4294967295u, 0, 1}},
      {"4294967296.0.0", std::nullopt},
      {"18.0", std::nullopt},
      {"18.0.0.1", std::nullopt},
      {"18.0.0-beta", std::nullopt},
      {"18..0", std::nullopt},
      {"-18.0.0", std::nullopt},
      {"+18.0.0", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.text);
    const auto parsed = ParseCoreVersion(row.text);
    ASSERT_EQ(parsed.has_value(), row.expected.has_value());
    if (parsed) {
      EXPECT_EQ(parsed->major, row.expected->major);
      EXPECT_EQ(parsed->minor, row.expected->minor);
      EXPECT_EQ(parsed->patch, row.expected->patch);
    }
  }
}

TEST(DevelopmentHostTest, OpenFailuresAreReported) {
  PluginLibrary missing;
  EXPECT_FALSE(missing.Open("/nonexistent/plugin.so"));
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_NE(missing.Error().find("/nonexistent/plugin.so"), std::string::npos);

  DevelopmentHost host;
  EXPECT_FALSE(host.Load(missing, CoreVersion{}));
  EXPECT_FALSE(host.Start());
  const Abi::PluginMemoryStats stats = host.MemoryStats();
  EXPECT_EQ(stats.allocations, 0u);
  host.Stop();  // nothing loaded: nothing happens
}

}  // namespace
}  // namespace Kavren::Host
