// Opening plugin libraries that cannot be loaded, and a host given one.
#include "host/core/plugin_library.h"

#include <gtest/gtest.h>

#include <string>

#include "host/core/development_host.h"

namespace Kavren::Host {
namespace {

TEST(PluginLibraryTest, OpenFailuresAreReportedAndLoadNothing) {
  PluginLibrary missing;
  const MaybeType<Failure> notFound = missing.Open("/nonexistent/plugin.so");
  ASSERT_TRUE(notFound.Failed());
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_EQ(missing.Export(), nullptr);
  EXPECT_EQ(notFound.GetFailure().message.rfind("/nonexistent/plugin.so: ", 0), 0u)
      << notFound.GetFailure().message;

  // A library that opens but is no plugin: the C library's maths, already mapped.
  PluginLibrary notAPlugin;
  const MaybeType<Failure> noExport = notAPlugin.Open("libm.so.6");
  ASSERT_TRUE(noExport.Failed());
  EXPECT_FALSE(notAPlugin.IsOpen());
  EXPECT_EQ(notAPlugin.Export(), nullptr);
  EXPECT_EQ(noExport.GetFailure().message, "libm.so.6 does not export load_hxa_player_messaging");

  DevelopmentHost host;
  EXPECT_FALSE(host.Load(missing, CoreVersion{}));
  EXPECT_FALSE(host.Load(notAPlugin, CoreVersion{}));
  EXPECT_FALSE(host.Start());
  const Abi::PluginMemoryStats stats = host.MemoryStats();
  EXPECT_EQ(stats.allocations, 0u);
  EXPECT_EQ(stats.peakBytes, 0u);
  host.Stop();  // nothing loaded: nothing happens, and nothing starts afterwards
  EXPECT_FALSE(host.Start());
}

}  // namespace
}  // namespace Kavren::Host
