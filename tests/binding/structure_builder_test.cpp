// Tests of StructureBuilder: document-order filling, repeated keys, marks put back.
#include "binding/structure_builder.h"

#include <gtest/gtest.h>

#include <random>
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

// Random documents with few distinct keys (so keys repeat, at every depth, with values of
// every kind in between) read through the builder and through Member give the same tree.
class RandomDocument {
 public:
  explicit RandomDocument(unsigned seed) : random_(seed) {}

  void Fill(BindingProperty& structure, StructureBuilder* builder, int depth) {
    const int members = Pick(6);
    for (int i = 0; i < members; ++i) {
      const std::string key = kKeys[Pick(4)];
      BindingProperty& member = builder != nullptr ? builder->Member(key) : structure.Member(key);
      FillValue(member, builder, depth);
    }
  }

 private:
  static constexpr const char* kKeys[] = {"a", "b", "", "ab"};

  int Pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random_); }

  void FillValue(BindingProperty& target, StructureBuilder* builder, int depth) {
    switch (depth > 3 ? Pick(2) : Pick(5)) {
      case 0:
        target.SetSigned(Pick(100));
        break;
      case 1:
        break;  // a null leaves what is there
      case 2:
      case 3:
        target.MakeStructure();
        if (builder != nullptr) builder->Open(target);
        Fill(target, builder, depth + 1);
        if (builder != nullptr) builder->Close();
        break;
      default: {
        target.MakeCollection();
        const int elements = Pick(4);
        for (int i = 0; i < elements; ++i) FillValue(target.Append(), builder, depth + 1);
        break;
      }
    }
  }

  std::mt19937 random_;
};

std::string Text(const BindingProperty& value) {
  switch (value.Kind()) {
    case ValueKind::kSigned:
      return std::to_string(value.GetSigned());
    case ValueKind::kStructure: {
      std::string text = "{";
      value.ForEachMember([&](std::string_view key, const BindingProperty& member) {
        text += std::string(key) + ":" + Text(member) + ",";
      });
      return text + "}";
    }
    case ValueKind::kCollection: {
      std::string text = "[";
      for (const BindingProperty& element : value.Elements()) text += Text(element) + ",";
      return text + "]";
    }
    default:
      return "-";
  }
}

TEST(StructureBuilder, BuildsWhatMemberBuildsForRandomDocuments) {
  for (unsigned seed = 1; seed <= 300; ++seed) {
    BindingProperty built;
    {
      StructureBuilder builder;
      builder.Open(built.MakeStructure());
      RandomDocument(seed).Fill(built, &builder, 0);
    }
    BindingProperty expected;
    RandomDocument(seed).Fill(expected.MakeStructure(), nullptr, 0);
    ASSERT_EQ(Text(built), Text(expected)) << "seed " << seed;
  }
}

}  // namespace
}  // namespace Kavren
