// Tests of the server-class associations and of "__class" tagging of values.
#include "plugin/server_class.h"

#include <gtest/gtest.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "binding/convert.h"
#include "binding/registry.h"
#include "formats/json.h"

namespace Kavren::ServerClassTesting {

struct Inner {
  std::string text;
};
struct Plain {
  Inner inner;
  std::int32_t number = 0;
};
struct Outer {
  Inner inner;
  std::vector<Inner> inners;
  std::unordered_map<std::string, Inner> innerMap;
  Plain plain;
  std::string label;
};

}  // namespace Kavren::ServerClassTesting

HXA_BINDING_STRUCT(Kavren::ServerClassTesting::Inner);
HXA_BINDING_STRUCT(Kavren::ServerClassTesting::Plain);
HXA_BINDING_STRUCT(Kavren::ServerClassTesting::Outer);

namespace Kavren::ServerClassTesting {
namespace {

class ServerClassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_.RegisterStruct<Inner>("Inner").AddField("text", &Inner::text);
    registry_.RegisterStruct<Plain>("Plain")
        .AddField("inner", &Plain::inner)
        .AddField("number", &Plain::number);
    registry_.RegisterStruct<Outer>("Outer")
        .AddField("inner", &Outer::inner)
        .AddField("inners", &Outer::inners)
        .AddField("innerMap", &Outer::innerMap)
        .AddField("plain", &Outer::plain)
        .AddField("label", &Outer::label);
    classes_.Associate("Inner", StaticType::HashCode<Inner>(), "srv.Inner");
  }

  const TypeDescriptor& Descriptor(const char* name) { return *registry_.FindType(name); }

  BindingProperty OuterValue() {
    Outer outer;
    outer.inner.text = "a";
    outer.inners = {Inner{"b"}, Inner{"c"}};
    outer.innerMap["k"] = Inner{"d"};
    outer.plain.inner.text = "e";
    outer.label = "f";
    MaybeType<Failure, BindingProperty> value = ToValue(outer, registry_);
    EXPECT_TRUE(value);
    return value ? std::move(value).Value() : BindingProperty();
  }

  BindingRegistry registry_;
  ServerClassTable classes_;
};

TEST_F(ServerClassTest, LooksClassesUpByNameAndByIdentity) {
  EXPECT_EQ(classes_.ClassForName("Inner"), "srv.Inner");
  EXPECT_EQ(classes_.ClassForType(StaticType::HashCode<Inner>()), "srv.Inner");
  EXPECT_EQ(classes_.ClassForName("Outer"), std::nullopt);
  EXPECT_EQ(classes_.ClassForType(StaticType::HashCode<Outer>()), std::nullopt);
  EXPECT_EQ(classes_.ClassForType(nullptr), std::nullopt);

  classes_.Associate("Inner", StaticType::HashCode<Inner>(), "srv.Other");
  classes_.Associate("Named", nullptr, "srv.Named");
  EXPECT_EQ(classes_.ClassForName("Inner"), "srv.Other");
  EXPECT_EQ(classes_.ClassForType(StaticType::HashCode<Inner>()), "srv.Other");
  EXPECT_EQ(classes_.ClassForName("Named"), "srv.Named");

  classes_.Clear();
  EXPECT_EQ(classes_.ClassForName("Inner"), std::nullopt);
  EXPECT_EQ(classes_.ClassForType(StaticType::HashCode<Inner>()), std::nullopt);
}

TEST_F(ServerClassTest, TypeWithoutAssociationLeavesTheWholeValueUnchanged) {
  BindingProperty value = OuterValue();
  const std::string before = WriteJson(value);
  TagServerClass(value, Descriptor("Outer"), classes_);
  EXPECT_EQ(WriteJson(value), before);

  TagServerClass(value, TypeRef{TypeKind::kStruct, TypeKind::kNone, nullptr}, classes_);
  EXPECT_EQ(WriteJson(value), before);
}

TEST_F(ServerClassTest, TagsServerRecordsAndTheServerRecordsNestedInThem) {
  classes_.Associate("Outer", StaticType::HashCode<Outer>(), "srv.Outer");
  BindingProperty value = OuterValue();
  TagServerClass(value, Descriptor("Outer"), classes_);
  // "plain" has no association: neither it nor the server record inside it is tagged.
  EXPECT_EQ(WriteJson(value),
            R"({"__class":"srv.Outer","inner":{"__class":"srv.Inner","text":"a"},)"
            R"("innerMap":{"k":{"__class":"srv.Inner","text":"d"}},)"
            R"("inners":[{"__class":"srv.Inner","text":"b"},{"__class":"srv.Inner","text":"c"}],)"
            R"("label":"f","plain":{"inner":{"text":"e"},"number":0}})");
}

TEST_F(ServerClassTest, VectorsAndMapsTagOnlyTheirRecordElements) {
  const TypeDescriptor* inner = &Descriptor("Inner");
  // An existing "__class" member is replaced.
  BindingResult parsed = ReadJson(R"([{"text":"a","__class":7},null,"text",{}])");
  ASSERT_TRUE(parsed.ok);
  TagServerClass(parsed.value, TypeRef{TypeKind::kVector, TypeKind::kStruct, inner}, classes_);
  EXPECT_EQ(WriteJson(parsed.value),
            R"([{"__class":"srv.Inner","text":"a"},null,"text",{"__class":"srv.Inner"}])");

  parsed = ReadJson(R"({"a":{"text":"x"},"b":5})");
  ASSERT_TRUE(parsed.ok);
  TagServerClass(parsed.value, TypeRef{TypeKind::kMap, TypeKind::kStruct, inner}, classes_);
  EXPECT_EQ(WriteJson(parsed.value), R"({"a":{"__class":"srv.Inner","text":"x"},"b":5})");

  // A value of another kind than its type describes stays as it is.
  BindingProperty text;
  text.SetString("not a record");
  TagServerClass(text, *inner, classes_);
  EXPECT_EQ(text.GetString(), "not a record");
}

}  // namespace
}  // namespace Kavren::ServerClassTesting
