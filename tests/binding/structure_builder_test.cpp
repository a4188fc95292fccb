// Tests of StructureBuilder: document-order filling, repeated keys, reopened structures, and
// the work that repetition and reopening cost.
#include "binding/structure_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
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
  // A repeated key takes no further reference.
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
}

std::string Key(int i) { return "k" + std::to_string(i); }

// Members of an open structure are found through the index after structures inside it
// with many members of their own have closed (their entries are dropped, its own kept), and
// a second tree built by the same builder starts from an empty index.
TEST(StructureBuilder, FindsRepeatedKeysAfterInnerStructuresClose) {
  const auto key = [](int i) { return "k" + std::to_string(i); };
  BindingProperty root;
  StructureBuilder builder;
  builder.Open(root.MakeStructure());
  for (int i = 0; i < 12; ++i) builder.Member(key(i)).SetSigned(i);
  for (int round = 0; round < 2; ++round) {
    builder.Open(builder.Member("inner" + std::to_string(round)).MakeStructure());
    for (int i = 0; i < 12; ++i) builder.Member(key(i)).SetSigned(100 + i);
    builder.Close();
  }
  for (int i = 0; i < 12; ++i) EXPECT_EQ(builder.Member(key(i)).GetSigned(), i);
  builder.Close();
  EXPECT_EQ(root.Size(), 14u);
  EXPECT_EQ(root.Find("inner1").Find("k11").GetSigned(), 111);

  BindingProperty second;
  builder.Open(second.MakeStructure());
  for (int i = 0; i < 24; ++i) builder.Member(key(i % 12)).SetSigned(i);
  builder.Close();
  EXPECT_EQ(second.Size(), 12u);
  EXPECT_EQ(second.Find("k0").GetSigned(), 12);
}

// Hostile shapes cost work in proportion to their members: a repeated key is found without
// a scan of the structure, and a structure reopened k times is put in order once, not k
// times (either would be about members * repetitions here).
TEST(StructureBuilder, RepetitionAndReopeningCostWorkInProportionToTheMembers) {
  constexpr int kMembers = 2000;
  struct Row {
    const char* shape;
    int newKeysPerReopen;   // -1: the last key repeated instead of reopening
    std::uint64_t members;  // of the inner structure at the end
  };
  const Row rows[] = {{"last key repeated", -1, kMembers},
                      {"reopened, no new key", 0, kMembers},
                      {"reopened, one new key", 1, 2 * kMembers}};
  for (const Row& row : rows) {
    BindingProperty root;
    StructureBuilder builder;
    builder.Open(root.MakeStructure());
    BindingProperty& inner = builder.Member("a").MakeStructure();
    builder.Open(inner);
    for (int i = 0; i < kMembers; ++i) builder.Member(Key(i)).SetSigned(i);
    for (int round = 0; round < kMembers; ++round) {
      if (row.newKeysPerReopen < 0) {
        builder.Member(Key(kMembers - 1)).SetSigned(-1);
        continue;
      }
      builder.Close();
      builder.Open(builder.Member("a").MakeStructure());
      builder.Member(Key(round)).SetSigned(-round);  // in the ordered part
      if (row.newKeysPerReopen == 1) builder.Member("x" + Key(round)).SetSigned(round);
    }
    builder.CloseAll();
    const StructureBuilder::Work& work = builder.WorkDone();
    EXPECT_LE(work.slotsExamined, 40u * kMembers) << row.shape;
    EXPECT_LE(work.membersOrdered, 4u * kMembers) << row.shape;
    ASSERT_EQ(root.Find("a").Size(), row.members) << row.shape;
    const std::vector<std::string> keys = Keys(root.Find("a"));
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end())) << row.shape;
    EXPECT_EQ(root.Find("a").Find(Key(kMembers - 1)).GetSigned(),
              row.newKeysPerReopen < 0 ? -1 : -(kMembers - 1))
        << row.shape;
  }
}

// A structure reopened inside another waits for the outermost close, even when it lies in
// a collection; Find and Settle read it meanwhile.
TEST(StructureBuilder, ReopenedStructuresAreOrderedWhenTheOutermostCloses) {
  BindingProperty root;
  StructureBuilder builder;
  builder.Open(root.MakeStructure());
  BindingProperty& inner = builder.Member("list").MakeCollection().Append().MakeStructure();
  builder.Open(inner);
  for (const char* key : {"m", "c"}) builder.Member(key).SetSigned(1);
  builder.Close();
  builder.Open(inner);
  for (const char* key : {"z", "a", "c"}) builder.Member(key).SetSigned(2);
  builder.Close();
  ASSERT_NE(builder.Find(inner, "a"), nullptr);
  EXPECT_EQ(builder.Find(inner, "c")->GetSigned(), 2);
  EXPECT_EQ(builder.Find(inner, "m")->GetSigned(), 1);
  EXPECT_EQ(builder.Find(inner, "q"), nullptr);
  EXPECT_EQ(builder.Find(root, "list"), &root.Find("list"));

  BindingProperty& list = builder.Member("list");
  builder.Settle(list);
  EXPECT_EQ(Keys(inner), (std::vector<std::string>{"a", "c", "m", "z"}));
  builder.Open(inner);
  builder.Member("b");
  builder.Close();
  builder.Close();
  EXPECT_EQ(Keys(inner), (std::vector<std::string>{"a", "b", "c", "m", "z"}));
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

  friend class WideRandomDocument;

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

// As RandomDocument, with many keys per structure and structures reopened several times, so
// that lookups go through the index and through the part already in order.
class WideRandomDocument {
 public:
  explicit WideRandomDocument(unsigned seed) : random_(seed) {}

  void Fill(BindingProperty& structure, StructureBuilder* builder, int depth) {
    const int members = random_.Pick(depth == 0 ? 60 : 25);
    for (int i = 0; i < members; ++i) {
      const std::string key = "key" + std::to_string(random_.Pick(30));
      BindingProperty& member = builder != nullptr ? builder->Member(key) : structure.Member(key);
      if (depth < 2 && random_.Pick(3) == 0) {
        member.MakeStructure();
        if (builder != nullptr) builder->Open(member);
        Fill(member, builder, depth + 1);
        if (builder != nullptr) builder->Close();
      } else {
        member.SetSigned(random_.Pick(1000));
      }
    }
  }

 private:
  RandomDocument random_;
};

// Lists of records that mostly bring the keys of the record before them in the same order
// (what the key cache and the remembered shapes serve), and now and then one key fewer, one
// more, another one, a repeated one or a swapped pair, at two depths; lookups through Find
// in between, as the YAML reader makes them for aliases.
class RecordDocument {
 public:
  explicit RecordDocument(unsigned seed) : random_(seed) {}

  void Fill(BindingProperty& root, StructureBuilder* builder) {
    std::vector<std::string> outer;
    std::vector<std::string> inner;
    for (int i = 0; i < 12; ++i) outer.push_back("key" + std::to_string(i * 7 % 12));
    for (int i = 0; i < 5; ++i) inner.push_back("in" + std::to_string(4 - i));
    outer[3] = "user";
    BindingProperty& list =
        (builder != nullptr ? builder->Member("list") : root.Member("list")).MakeCollection();
    for (int record = 0; record < 80; ++record) {
      const std::vector<std::string> inRecord = Perturb(outer);
      const std::vector<std::string> inUser = Perturb(inner);
      FillRecord(list.Append(), builder, inRecord, &inUser);
    }
  }

 private:
  void FillRecord(BindingProperty& record, StructureBuilder* builder,
                  const std::vector<std::string>& keys, const std::vector<std::string>* inner) {
    record.MakeStructure();
    const bool fresh = record.Size() == 0;  // not a repeated key's structure, filled again
    if (builder != nullptr) builder->Open(record);
    for (std::size_t i = 0; i < keys.size(); ++i) {
      // Drawn either way, so that both fillings see the same numbers.
      const bool probe = Pick(64) == 0;
      const std::string& key = keys[Pick(static_cast<int>(keys.size()))];
      if (builder != nullptr && probe && fresh) {
        const bool added = std::find(keys.begin(), keys.begin() + i, key) != keys.begin() + i;
        EXPECT_EQ(builder->Find(record, key) != nullptr, added) << key;
      }
      BindingProperty& member =
          builder != nullptr ? builder->Member(keys[i]) : record.Member(keys[i]);
      if (keys[i] == "user" && inner != nullptr) {
        FillRecord(member, builder, *inner, nullptr);
      } else {
        member.SetSigned(Pick(1000));
      }
    }
    if (builder != nullptr) builder->Close();
  }

  // Changes `keys` now and then for good; answers the keys of one record, which may repeat one.
  std::vector<std::string> Perturb(std::vector<std::string>& keys) {
    const int at = Pick(static_cast<int>(keys.size()));
    const int other = Pick(static_cast<int>(keys.size()));
    std::vector<std::string> once = keys;
    switch (Pick(12)) {
      case 0:
        if (keys.size() > 2) keys.pop_back();
        return keys;
      case 1:
        if (keys.size() < 20) keys.push_back("extra" + std::to_string(Pick(20)));
        return keys;
      case 2:
        keys[at] = "other" + std::to_string(Pick(20));
        return keys;
      case 3:
        std::swap(keys[at], keys[other]);
        return keys;
      case 4:
        once.insert(once.begin() + other, keys[at]);
        return once;
      default:
        return keys;  // the same keys again
    }
  }

  int Pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random_); }

  std::mt19937 random_;
};

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
  for (unsigned seed = 1; seed <= 100; ++seed) {
    BindingProperty built;
    {
      StructureBuilder builder;
      builder.Open(built.MakeStructure());
      WideRandomDocument(seed).Fill(built, &builder, 0);
    }
    BindingProperty expected;
    WideRandomDocument(seed).Fill(expected.MakeStructure(), nullptr, 0);
    ASSERT_EQ(Text(built), Text(expected)) << "wide, seed " << seed;
  }
  std::uint64_t shapesFollowed = 0;
  std::uint64_t keysCached = 0;
  for (unsigned seed = 1; seed <= 100; ++seed) {
    BindingProperty built;
    StructureBuilder builder;
    builder.Open(built.MakeStructure());
    RecordDocument(seed).Fill(built, &builder);
    builder.CloseAll();
    BindingProperty expected;
    RecordDocument(seed).Fill(expected.MakeStructure(), nullptr);
    ASSERT_EQ(Text(built), Text(expected)) << "records, seed " << seed;
    shapesFollowed += builder.WorkDone().shapesFollowed;
    keysCached += builder.WorkDone().keysCached;
    // The memories took no reference of their own.
    std::uint32_t users = 0;
    for (const BindingProperty& record : built.Find("list").Elements()) {
      record.ForEachMember(
          [&](std::string_view key, const BindingProperty&) { users += key == "user"; });
    }
    const detail::InternedText* user = built.Pool()->FindEntry("user");
    EXPECT_EQ(user != nullptr ? user->refCount : 0u, users);
  }
  // The memories were used: most records followed a shape, most keys came from the cache.
  EXPECT_GT(shapesFollowed, 100u * 30);
  EXPECT_GT(keysCached, 100u * 600);
}

}  // namespace
}  // namespace Kavren
