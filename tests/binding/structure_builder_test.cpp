// Tests of StructureBuilder: document-order filling, repeated keys, marks put back.
#include "binding/structure_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Kavren {
namespace {

std::vector<std::string> Keys(const BindingProperty& value) {
  std::vector<std::string> keys;
  value.ForEachMember(
      [&](std::string_view key, const BindingProperty&) { keys.emplace_back(key); });
  return keys;
}

TEST(StructureBuilder, FillsInAnyOrderAndFindsRepeatedKeysLikeMember) {
  BindingProperty root;
  StructureBuilder builder;
  builder.Open(root.MakeStructure());
  builder.Member("b").SetSigned(1);
  BindingProperty& inner = builder.Member("a").MakeStructure();
  builder.Open(inner);
  builder.Member("b").SetSigned(2);  // another structure: another member
  builder.Member("").SetSigned(3);
  EXPECT_EQ(&builder.Member(""), &builder.Member(""));
  builder.Close();
  BindingProperty& again = builder.Member("b");
  EXPECT_EQ(again.GetSigned(), 1);
  again.SetSigned(4);
  builder.Member("B");
  EXPECT_EQ(builder.OpenCount(), 1u);
  builder.CloseAll();

  EXPECT_EQ(Keys(root), (std::vector<std::string>{"B", "a", "b"}));
  EXPECT_EQ(root.Find("b").GetSigned(), 4);
  EXPECT_EQ(Keys(root.Find("a")), (std::vector<std::string>{"", "b"}));
  EXPECT_EQ(root.Find("a").Find("b").GetSigned(), 2);
  // Every mark was put back, so the ordinary interface sees a plain tree.
  for (const char* key : {"a", "b", "B"}) EXPECT_EQ(root.Pool()->FindEntry(key)->mark, nullptr);
  EXPECT_EQ(root.Pool()->FindEntry("b")->refCount, 2u);
}

TEST(StructureBuilder, ReopenedStructureFindsTheMembersItHad) {
  BindingProperty root;
  root.Member("x").SetSigned(1);
  root.Member("y").SetSigned(2);
  StructureBuilder builder;
  builder.Open(root);
  builder.Member("y").SetSigned(20);
  builder.Member("a").SetSigned(0);
  builder.Close();
  EXPECT_EQ(Keys(root), (std::vector<std::string>{"a", "x", "y"}));
  EXPECT_EQ(root.Find("y").GetSigned(), 20);
  EXPECT_EQ(root.Pool()->FindEntry("y")->mark, nullptr);
}

}  // namespace
}  // namespace Kavren
