// The plugin as built, loaded through the development host: the set-up shared by the
// tests that drive the real library.
#pragma once

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "host/core/development_host.h"
#include "host/core/plugin_library.h"

namespace Kavren::Host::Testing {

/// A suite over the built plugin library: the library is opened before the suite's first
/// test (a plugin library stays mapped once opened, so every load in the program is the
/// same mapping), and every test of the suite fails when it cannot be.
class BuiltPluginTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();

  /// The library, between the suite's set-up and tear-down.
  [[nodiscard]] static const PluginLibrary& Library() { return *library_; }
  /// Loads the built plugin into `host` as a core of `version`.
  [[nodiscard]] static ::testing::AssertionResult Load(DevelopmentHost& host,
                                                       CoreVersion version = {});
  /// Loads the built plugin into `host` as a core of `version`, sets `packet` (when
  /// given) as the login data packet and starts the plugin; a failure names the step.
  [[nodiscard]] static ::testing::AssertionResult LoadAndStart(
      DevelopmentHost& host, const rapidjson::Value* packet = nullptr, CoreVersion version = {});

 private:
  static inline PluginLibrary* library_ = nullptr;
};

}  // namespace Kavren::Host::Testing
