// Type registry: registration rules, lookups, snapshots, functions, events, re-initialisation.
#include "binding/registry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/value.h"

namespace Kavren::RegistryTesting {
enum class State : std::int32_t { kNone, kRunning, kCancelling, kCancelled, kSucceeded, kFailed };
struct Point {
  std::int32_t x = 0;
  std::int32_t y = 0;
};
struct Late {
  std::int32_t value = 0;
};
struct Holder {
  Point point;
  Late late;
  std::vector<Point> points;
  std::unordered_map<std::string, State> states;
  std::vector<std::vector<Point>> grid;
  std::vector<std::uint8_t> blob;
  BindingProperty object;
};
struct CallbackEvent {
  std::uint32_t id = 0;
};
}  // namespace Kavren::RegistryTesting

HXA_BINDING_ENUM(Kavren::RegistryTesting::State);
HXA_BINDING_STRUCT(Kavren::RegistryTesting::Point);
HXA_BINDING_STRUCT(Kavren::RegistryTesting::Late);
HXA_BINDING_STRUCT(Kavren::RegistryTesting::Holder);
HXA_BINDING_STRUCT(Kavren::RegistryTesting::CallbackEvent);

namespace Kavren::RegistryTesting {
namespace {

using namespace RegistryTesting;

void RegisterState(BindingRegistry& registry) {
  registry.RegisterEnum<State>("BindingAsyncState")
      .AddValue("None", 0, "Invalid state")
      .AddValue("Running", 1, "The operation is in flight")
      .AddValue("Cancelling", 2, "A request to cancel the operation has been made")
      .AddValue("Cancelled", 3, "The operation was cancelled")
      .AddValue("Succeeded", 4, "The operation completed successfully")
      .AddValue("Failed", 5, "The operation encountered an error")
      .SetDescription("Possible states of an asynchronous operation.")
      .AddTags({"$builtin", "async"});
}

std::vector<std::string> ValueNames(const TypeDescriptor& descriptor) {
  std::vector<std::string> names;
  for (const auto& [name, value] : descriptor.values) names.push_back(name);
  return names;
}

TEST(TypeKindTest, NamesAndTypeTexts) {
  EXPECT_STREQ(TypeKindName(TypeKind::kBool), "bool");
  EXPECT_STREQ(TypeKindName(TypeKind::kObject), "object");
  EXPECT_STREQ(TypeKindName(TypeKind::kCallback), "callback");
  EXPECT_STREQ(TypeKindName(TypeKind::kMap), "map");
  EXPECT_STREQ(TypeKindName(TypeKind::kNone), "");
  EXPECT_STREQ(TypeKindName(static_cast<TypeKind>(20)), "");

  BindingRegistry registry;
  RegisterState(registry);
  const TypeDescriptor* state = registry.FindType(std::string("BindingAsyncState"));
  EXPECT_EQ(TypeRefText({TypeKind::kEnum, TypeKind::kNone, state}), "BindingAsyncState");
  EXPECT_EQ(TypeRefText({TypeKind::kStruct, TypeKind::kNone, nullptr}), "struct");
  EXPECT_EQ(TypeRefText({TypeKind::kInt32, TypeKind::kNone, nullptr}), "int32");
  EXPECT_EQ(TypeRefElementText({TypeKind::kInt32, TypeKind::kNone, nullptr}), "");
  const TypeRef vector{TypeKind::kVector, TypeKind::kEnum, state};
  EXPECT_EQ(TypeRefText(vector), "vector");
  EXPECT_EQ(TypeRefElementText(vector), "BindingAsyncState");
  EXPECT_EQ(TypeRefElementText({TypeKind::kMap, TypeKind::kEnum, nullptr}), "enum");
}

TEST(RegistryTest, EnumeratorsAreOrderedByNameAndFirstRegistrationWins) {
  BindingRegistry registry;
  RegisterState(registry);
  TypeBuilder second = registry.RegisterEnum<State>("BindingAsyncState");
  EXPECT_TRUE(second.alreadyRegistered());
  second.AddValue("Paused", 9).AddValue("None", 7).SetDescription("changed").AddTag("x");

  const TypeDescriptor* descriptor = registry.FindType(std::string("BindingAsyncState"));
  ASSERT_NE(descriptor, nullptr);
  EXPECT_TRUE(descriptor->isEnum);
  EXPECT_EQ(descriptor->size, 4u);
  EXPECT_EQ(descriptor->identity, StaticType::HashCode<State>());
  EXPECT_EQ(descriptor->hashCode, StaticType::HashCode<State>()->hashCode);
  EXPECT_EQ(descriptor->registry, &registry);
  EXPECT_EQ(descriptor->description, "Possible states of an asynchronous operation.");
  EXPECT_EQ(descriptor->tags, (std::vector<std::string>{"$builtin", "async"}));
  EXPECT_EQ(ValueNames(*descriptor), (std::vector<std::string>{"Cancelled", "Cancelling", "Failed",
                                                               "None", "Running", "Succeeded"}));
  EXPECT_EQ(descriptor->values.at("None").value, 0);
  EXPECT_EQ(descriptor->values.at("None").owner, descriptor);
}

TEST(RegistryTest, SecondRegistrationOfANameForAnotherTypeIsIgnored) {
  BindingRegistry registry;
  registry.RegisterStruct<Point>("Shape").AddField("x", &Point::x);
  TypeBuilder other = registry.RegisterStruct<Late>("Shape");
  EXPECT_TRUE(other.alreadyRegistered());
  other.AddField("value", &Late::value);
  const TypeDescriptor* shape = registry.FindType(std::string("Shape"));
  ASSERT_EQ(shape->fields.size(), 1u);
  EXPECT_EQ(shape->identity, StaticType::HashCode<Point>());
  EXPECT_EQ(registry.FindType(StaticType::HashCode<Late>()), nullptr);
}

TEST(RegistryTest, EnumeratorRedefinitionAndEnumValueName) {
  BindingRegistry registry;
  registry.RegisterEnum<State>("Twice")
      .AddValue("b", 1, "first")
      .AddValue("a", 1)
      .AddValue("c", 2)
      .AddValue("c", 3, "overwritten");
  const TypeDescriptor* descriptor = registry.FindType(std::string("Twice"));
  ASSERT_EQ(descriptor->values.size(), 3u);
  EXPECT_EQ(descriptor->values.at("c").value, 3);
  EXPECT_EQ(descriptor->values.at("c").description, "overwritten");
  // The name that sorts first wins when a number is defined twice.
  EXPECT_STREQ(registry.EnumValueName(StaticType::HashCode<State>(), 1), "a");
  EXPECT_STREQ(registry.EnumValueName(StaticType::HashCode<State>(), 3), "c");
  EXPECT_EQ(registry.EnumValueName(StaticType::HashCode<State>(), 2), nullptr);
  EXPECT_EQ(registry.EnumValueName(StaticType::HashCode<Point>(), 1), nullptr);
}

TEST(RegistryTest, VoidIdentityIsFoundByNameOnly) {
  BindingRegistry registry;
  TypeBuilder builder = registry.RegisterType("Untyped", 0, false, StaticType::HashCode<void>());
  EXPECT_FALSE(builder.alreadyRegistered());
  EXPECT_NE(registry.FindType(std::string("Untyped")), nullptr);
  EXPECT_EQ(registry.FindType(StaticType::HashCode<void>()), nullptr);
}

TEST(RegistryTest, TwoNamesWithOneCode) {
  BindingRegistry registry;
  registry.RegisterStruct<Point>("First");
  registry.RegisterStruct<Point>("Second");
  const TypeDescriptor* first = registry.FindType(std::string("First"));
  const TypeDescriptor* second = registry.FindType(std::string("Second"));
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(registry.FindType(StaticType::HashCode<Point>()), second);
  // Unregistering the earlier name leaves the later one's code entry in place.
  EXPECT_TRUE(registry.UnregisterType("First"));
  EXPECT_EQ(registry.FindType(StaticType::HashCode<Point>()), second);
  EXPECT_TRUE(registry.UnregisterType("Second"));
  EXPECT_EQ(registry.FindType(StaticType::HashCode<Point>()), nullptr);
  EXPECT_EQ(registry.FindType(std::string("Second")), nullptr);
  EXPECT_FALSE(registry.UnregisterType("Second"));
}

TEST(RegistryTest, FieldsDescribeTheirNativeTypes) {
  BindingRegistry registry;
  RegisterState(registry);
  registry.RegisterStruct<Point>("Point").AddField("x", &Point::x).AddField("y", &Point::y);
  registry.RegisterStruct<Holder>("Holder")
      .AddField("point", &Holder::point, "where", kFieldRequired)
      .AddField("late", &Holder::late)
      .AddField("points", &Holder::points)
      .AddField("states", &Holder::states)
      .AddField("grid", &Holder::grid)
      .AddField("blob", &Holder::blob)
      .AddField<BindingProperty>("object", 96, "", 0,
                                 TypeRef{TypeKind::kInt8, TypeKind::kNone, nullptr});
  registry.RegisterStruct<Late>("Late");

  const TypeDescriptor* holder = registry.FindType(std::string("Holder"));
  const TypeDescriptor* point = registry.FindType(std::string("Point"));
  const TypeDescriptor* state = registry.FindType(std::string("BindingAsyncState"));
  ASSERT_EQ(holder->fields.size(), 7u);
  struct Row {
    const char* name;
    TypeKind kind;
    TypeKind elementKind;
    const TypeDescriptor* descriptor;
  };
  const Row rows[] = {
      {"point", TypeKind::kStruct, TypeKind::kNone, point},
      // Registered after the record that uses it: no descriptor.
      {"late", TypeKind::kStruct, TypeKind::kNone, nullptr},
      {"points", TypeKind::kVector, TypeKind::kStruct, point},
      {"states", TypeKind::kMap, TypeKind::kEnum, state},
      {"grid", TypeKind::kVector, TypeKind::kVector, nullptr},
      {"blob", TypeKind::kBlob, TypeKind::kNone, nullptr},
      {"object", TypeKind::kObject, TypeKind::kNone, nullptr},
  };
  for (std::size_t index = 0; index < std::size(rows); ++index) {
    const FieldDescriptor& field = holder->fields[index];
    SCOPED_TRACE(rows[index].name);
    EXPECT_EQ(field.name, rows[index].name);
    EXPECT_EQ(field.nameHash, HashText(rows[index].name));
    EXPECT_EQ(field.type.kind, rows[index].kind);
    EXPECT_EQ(field.type.elementKind, rows[index].elementKind);
    EXPECT_EQ(field.type.descriptor, rows[index].descriptor);
    EXPECT_EQ(field.owner, holder);
    EXPECT_NE(field.accessor, nullptr);
    EXPECT_FALSE(field.optional);
  }
  const Holder sample;
  const auto* base = reinterpret_cast<const char*>(&sample);
  EXPECT_EQ(holder->fields[1].offset, reinterpret_cast<const char*>(&sample.late) - base);
  EXPECT_EQ(holder->fields[2].offset, reinterpret_cast<const char*>(&sample.points) - base);
  EXPECT_EQ(holder->fields[0].flags, kFieldRequired);
  EXPECT_EQ(holder->fields[0].description, "where");
  EXPECT_EQ(holder->fields[2].identity, StaticType::HashCode<std::vector<Point>>());
  EXPECT_EQ(holder->fields[6].auxType.kind, TypeKind::kInt8);
  EXPECT_EQ(holder->fields[6].offset, 96u);
  EXPECT_EQ(holder->size, sizeof(Holder));
}

TEST(RegistryTest, SnapshotsAreOrderedCopies) {
  BindingRegistry registry;
  registry.RegisterStruct<Point>("b");
  registry.RegisterStruct<Late>("a");
  const auto snapshot = registry.TypesSnapshot();
  ASSERT_EQ(snapshot.size(), 2u);
  EXPECT_EQ(snapshot.begin()->first, "a");
  registry.UnregisterType("b");
  EXPECT_EQ(snapshot.size(), 2u);
  EXPECT_EQ(registry.TypesSnapshot().size(), 1u);
}

struct CountedFunction : FunctionRecord {
  explicit CountedFunction(int* destroyed) : destroyed_(destroyed) {}
  ~CountedFunction() override { ++*destroyed_; }
  int* destroyed_;
};

TEST(RegistryTest, FunctionsAreCountedAndDestroyedOnRemoval) {
  BindingRegistry registry;
  int destroyed = 0;
  auto make = [&](const char* name) {
    auto record = std::make_unique<CountedFunction>(&destroyed);
    record->name = name;
    return record;
  };
  registry.AddFunction(make("GetA"));
  registry.AddFunction(make("GetB"));
  EXPECT_EQ(registry.FunctionChangeCount(), 2u);
  ASSERT_NE(registry.FindFunction("GetA"), nullptr);
  EXPECT_EQ(registry.FunctionsSnapshot().size(), 2u);
  EXPECT_TRUE(registry.RemoveFunction("GetA"));
  EXPECT_FALSE(registry.RemoveFunction("GetA"));
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(registry.FunctionChangeCount(), 3u);
  EXPECT_EQ(registry.FindFunction("GetA"), nullptr);
  registry.UnregisterAllFunctions();
  EXPECT_EQ(destroyed, 2);
  EXPECT_EQ(registry.FunctionChangeCount(), 4u);
}

TEST(RegistryTest, EventsTakeTheirPayloadByCode) {
  BindingRegistry registry;
  registry.RegisterStruct<CallbackEvent>("BindingCallbackEvent");
  EventBuilder first = registry.RegisterEvent<CallbackEvent>("OnThing");
  EXPECT_FALSE(first.alreadyRegistered());
  first.SetDescription("Fired.").AddTag("$builtin").AddTag("");
  EventBuilder second = registry.RegisterEvent<Point>("OnThing");
  EXPECT_TRUE(second.alreadyRegistered());
  second.SetDescription("ignored").AddTag("ignored");
  registry.RegisterEvent<Point>("OnOther");

  const EventRecord* thing = registry.FindEvent("OnThing");
  ASSERT_NE(thing, nullptr);
  EXPECT_EQ(thing->payload, registry.FindType(std::string("BindingCallbackEvent")));
  EXPECT_EQ(thing->description, "Fired.");
  EXPECT_EQ(thing->tags, std::vector<std::string>{"$builtin"});
  EXPECT_EQ(registry.FindEvent("OnOther")->payload, nullptr);
  EXPECT_EQ(registry.EventsSnapshot().size(), 2u);
  EXPECT_TRUE(registry.UnregisterEvent("OnOther"));
  EXPECT_EQ(registry.FindEvent("OnOther"), nullptr);
}

TEST(RegistryTest, ReinitialiseClearsAndRegistersBuiltins) {
  BindingRegistry registry;
  registry.RegisterStruct<Point>("Point");
  registry.RegisterEvent<Point>("OnPoint");
  auto builtins = [](BindingRegistry& target) {
    target.RegisterStruct<CallbackEvent>("BindingCallbackEvent");
  };
  // Not yet initialised: nothing is cleared.
  registry.Reinitialise(builtins);
  EXPECT_TRUE(registry.initialised());
  EXPECT_NE(registry.FindType(std::string("Point")), nullptr);
  const EventRecord* callback = registry.FindEvent("OnCallback");
  ASSERT_NE(callback, nullptr);
  EXPECT_EQ(callback->payload, registry.FindType(std::string("BindingCallbackEvent")));
  EXPECT_EQ(callback->description, "Fired when a callback is invoked.");
  EXPECT_EQ(callback->tags, std::vector<std::string>{"$builtin"});

  registry.Reinitialise(builtins);
  EXPECT_EQ(registry.FindType(std::string("Point")), nullptr);
  EXPECT_EQ(registry.FindEvent("OnPoint"), nullptr);
  EXPECT_EQ(registry.TypesSnapshot().size(), 1u);
  EXPECT_EQ(registry.FindEvent("OnCallback")->tags, std::vector<std::string>{"$builtin"});

  BindingRegistry bare;
  bare.Reinitialise(nullptr);
  EXPECT_EQ(bare.FindEvent("OnCallback")->payload, nullptr);
}

}  // namespace
}  // namespace Kavren::RegistryTesting
