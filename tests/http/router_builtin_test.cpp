// The router's "$builtin" namespace: "Help" describes the registry, other names fail.
#include <gtest/gtest.h>

#include "binding/registry.h"
#include "formats/builtin_types.h"
#include "http/response.h"
#include "http/router.h"

namespace Kavren {
namespace {

TEST(RouterBuiltin, HelpDescribesEverythingRegistered) {
  BindingRegistry registry;
  registry.Reinitialise(&RegisterBuiltinTypes);
  Router router(registry);
  HttpResponseSettings settings;
  router.CallBuiltin("Help", settings);
  ASSERT_FALSE(settings.result.Failed());
  ASSERT_TRUE(settings.value.Has("types"));
  EXPECT_TRUE(settings.value.Has("functions"));
  bool found = false;
  for (const BindingProperty& type : settings.value.Find("types").Elements()) {
    found = found || type.Find("name").GetString() == "BindingAsyncState";
  }
  EXPECT_TRUE(found);
  EXPECT_EQ(settings.value.Find("events").At(0).Find("name").GetString(), "OnCallback");
}

TEST(RouterBuiltin, OtherNamesAreUnsupported) {
  BindingRegistry registry;
  Router router(registry);
  for (const char* name : {"help", "Describe", ""}) {
    HttpResponseSettings settings;
    router.CallBuiltin(name, settings);
    ASSERT_TRUE(settings.result.Failed()) << name;
    EXPECT_EQ(settings.result.GetFailure().message.View(), "Unsupported builtin function");
  }
}

}  // namespace
}  // namespace Kavren
