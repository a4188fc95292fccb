// Tests of the built-in asynchronous-operation and generic event types.
#include "formats/builtin_types.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/convert.h"
#include "binding/registry.h"
#include "formats/value_text_support.h"

namespace Kavren {
namespace {

using Testing::KindText;

class BuiltinTypesTest : public testing::Test {
 protected:
  void SetUp() override { registry_.Reinitialise(&RegisterBuiltinTypes); }
  BindingRegistry registry_;
};

TEST_F(BuiltinTypesTest, RegistersTheAsyncStatesOnceAndTheCallbackEvent) {
  RegisterBuiltinTypes(registry_);  // a second registration changes nothing
  const TypeDescriptor* state = registry_.FindType(std::string("BindingAsyncState"));
  ASSERT_NE(state, nullptr);
  EXPECT_TRUE(state->isEnum);
  EXPECT_EQ(state->size, 4u);
  EXPECT_EQ(state->tags, (std::vector<std::string>{"$builtin", "async"}));
  std::vector<std::string> names;
  for (const auto& [name, value] : state->values) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"Cancelled", "Cancelling", "Failed", "None", "Running",
                                             "Succeeded"}));
  EXPECT_EQ(state->values.at("Cancelling").value, 2);
  EXPECT_EQ(state->values.at("Cancelling").description,
            "A request to cancel the operation has been made");
  EXPECT_EQ(registry_.FindType(std::string("BindingCallbackEvent"))->fields.size(), 2u);

  const EventRecord* callback = registry_.FindEvent("OnCallback");
  ASSERT_NE(callback, nullptr);
  EXPECT_EQ(callback->payload, registry_.FindType(std::string("BindingCallbackEvent")));
  EXPECT_EQ(callback->description, "Fired when a callback is invoked.");
  EXPECT_EQ(callback->tags, std::vector<std::string>{"$builtin"});
}

TEST(BuiltinCallbackEventTest, KeepsTheDescriptionOfAnEarlierRegistration) {
  BindingRegistry registry;
  registry.RegisterEventWithPayload("OnCallback", nullptr).SetDescription("Mine.");
  registry.Reinitialise(&RegisterBuiltinTypes);
  const EventRecord* callback = registry.FindEvent("OnCallback");
  ASSERT_NE(callback, nullptr);
  EXPECT_EQ(callback->description, "Mine.");
  EXPECT_EQ(callback->tags, std::vector<std::string>{"$builtin"});
}

TEST_F(BuiltinTypesTest, ConvertsAFailureEventValueIntoItsRecord) {
  BindingProperty input;
  input.Member("asyncToken").SetSigned(7);
  input.Member("error").SetString("Disk full");
  input.Member("ignored").SetBool(true);
  BindingResult status;
  BindingAsyncFailureEvent event;
  FromValue(status, event, input, "event", registry_);
  ASSERT_TRUE(status.ok) << status.ErrorText();
  EXPECT_EQ(event.asyncToken, 7u);
  EXPECT_EQ(event.error, "Disk full");

  input.Member("asyncToken").SetString("-1");
  FromValue(status, event, input, "event", registry_);
  EXPECT_EQ(status.ErrorText(), "Value -1 for 'asyncToken' of type uint32 is out of range");
}

TEST_F(BuiltinTypesTest, CallbackEventParametersRoundTripUnchanged) {
  BindingCallbackEvent event;
  event.id = 3;
  event.parameters.resize(3);
  event.parameters[0].SetSigned(-1);
  event.parameters[1].SetString("x");
  event.parameters[2].Member("a").SetBool(true);
  MaybeType<Failure, BindingProperty> converted = ToValue(event, registry_);
  ASSERT_TRUE(converted);
  const BindingProperty& value = converted.Value();
  EXPECT_EQ(KindText(value), R"({id:u3,parameters:[s-1,"x",{a:true}]})");

  BindingResult status;
  BindingCallbackEvent back;
  FromValue(status, back, value, "event", registry_);
  ASSERT_TRUE(status.ok) << status.ErrorText();
  EXPECT_EQ(back.id, 3u);
  ASSERT_EQ(back.parameters.size(), 3u);
  EXPECT_EQ(KindText(back.parameters[2]), "{a:true}");

  BindingGenericAsyncEvent generic;
  generic.asyncToken = 9;
  generic.data.AtGrow(1).SetFloat(0.5);
  MaybeType<Failure, BindingProperty> genericValue = ToValue(generic, registry_);
  ASSERT_TRUE(genericValue);
  EXPECT_EQ(KindText(genericValue.Value()), "{asyncToken:u9,data:[null,f0.5]}");
}

}  // namespace
}  // namespace Kavren
