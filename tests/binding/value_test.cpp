// BindingProperty: kinds, getters, containers, interning, copy, move, visiting, results.
#include "binding/value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "log/log_manager.h"
#include "support/capturing_log_target.h"

namespace Kavren {
namespace {

// Writes every visitor call as one token, so a walk can be compared as one text.
class TraceVisitor : public BindingVisitor {
 public:
  std::string trace;

  void VisitEmpty() override { Add("empty"); }
  void VisitBool(bool value) override { Add(value ? "true" : "false"); }
  void VisitSigned(std::int64_t value) override { Add("s" + std::to_string(value)); }
  void VisitUnsigned(std::uint64_t value) override { Add("u" + std::to_string(value)); }
  void VisitFloat(double value) override { Add("f" + std::to_string(value)); }
  void VisitString(std::string_view text) override { Add("'" + std::string(text) + "'"); }
  void VisitBlob(std::span<const std::uint8_t> bytes) override {
    Add("blob" + std::to_string(bytes.size()));
  }
  void VisitEnum(BindingEnumValue value) override { Add("enum" + std::to_string(value.value)); }
  void BeginCollection(std::size_t count) override { Add("[" + std::to_string(count)); }
  void BeginItem(std::size_t index) override { Add("<" + std::to_string(index)); }
  void EndItem(std::size_t index) override { Add(std::to_string(index) + ">"); }
  void EndCollection() override { Add("]"); }
  void BeginStructure(std::size_t count) override { Add("{" + std::to_string(count)); }
  void BeginMember(std::string_view key) override { Add(std::string(key) + ":"); }
  void EndMember(std::string_view key) override { Add("/" + std::string(key)); }
  void EndStructure() override { Add("}"); }

 private:
  void Add(const std::string& token) {
    if (!trace.empty()) trace += ' ';
    trace += token;
  }
};

std::string Trace(const BindingProperty& value) {
  TraceVisitor visitor;
  value.Visit(visitor);
  return visitor.trace;
}

const std::vector<std::uint8_t> kBytes = {1, 2, 3};

// One value of every kind, with a non-empty payload.
std::vector<BindingProperty> OneOfEachKind() {
  std::vector<BindingProperty> values(10);
  values[1].SetBool(true);
  values[2].SetSigned(-5);
  values[3].SetUnsigned(5);
  values[4].SetFloat(2.5);
  values[5].SetString("text");
  values[6].SetBlobCopy(kBytes);
  values[7].SetEnum(3, nullptr);
  values[8].Append().SetSigned(1);
  values[9].Member("m").SetSigned(1);
  return values;
}

TEST(ValueKind, PrintableNames) {
  const char* expected[] = {"empty",  "bool", "signed", "unsigned",   "float",
                            "string", "blob", "enum",   "collection", "structure"};
  for (int i = 0; i < 10; ++i) {
    EXPECT_STREQ(ValueKindName(static_cast<ValueKind>(i)), expected[i]);
  }
  EXPECT_STREQ(ValueKindName(static_cast<ValueKind>(10)), "");
  EXPECT_STREQ(ValueKindName(static_cast<ValueKind>(255)), "");
}

// Every getter answers its default unless the kind is exactly its own.
TEST(BindingProperty, GettersNeverConvertAndSizesPerKind) {
  std::vector<BindingProperty> values = OneOfEachKind();
  const std::uint8_t fallbackBytes[] = {9};
  const std::size_t kSizes[] = {0, 1, 1, 1, 1, 4, 3, 1, 1, 1};
  for (std::size_t i = 0; i < values.size(); ++i) {
    const BindingProperty& value = values[i];
    const auto kind = static_cast<ValueKind>(i);
    EXPECT_EQ(value.Kind(), kind);
    EXPECT_EQ(value.Size(), kSizes[i]) << i;
    EXPECT_EQ(value.IsEmpty(), i == 0) << i;
    EXPECT_EQ(value.GetBool(false), kind == ValueKind::kBool) << i;
    EXPECT_EQ(value.GetSigned(7), kind == ValueKind::kSigned ? -5 : 7) << i;
    EXPECT_EQ(value.GetUnsigned(7), kind == ValueKind::kUnsigned ? 5u : 7u) << i;
    EXPECT_EQ(value.GetFloat(7.0), kind == ValueKind::kFloat ? 2.5 : 7.0) << i;
    EXPECT_EQ(value.GetString("d"), kind == ValueKind::kString ? "text" : "d") << i;
    EXPECT_EQ(value.GetBlob(fallbackBytes).size(), kind == ValueKind::kBlob ? 3u : 1u) << i;
    EXPECT_EQ(value.GetEnum({7, nullptr}).value, kind == ValueKind::kEnum ? 3 : 7) << i;
  }
}

TEST(BindingProperty, SizeAndIsEmptyPerKind) {
  struct Row {
    const char* name;
    void (*set)(BindingProperty&);
    std::size_t size;
    bool empty;
  };
  const Row rows[] = {
      {"false", [](BindingProperty& v) { v.SetBool(false); }, 1, true},
      {"signed 0", [](BindingProperty& v) { v.SetSigned(0); }, 1, true},
      {"unsigned 0", [](BindingProperty& v) { v.SetUnsigned(0); }, 1, true},
      {"float 0", [](BindingProperty& v) { v.SetFloat(0.0); }, 1, true},
      {"float -0", [](BindingProperty& v) { v.SetFloat(-0.0); }, 1, true},
      {"NaN", [](BindingProperty& v) { v.SetFloat(std::nan("")); }, 1, false},
      {"enum 0", [](BindingProperty& v) { v.SetEnum(0, nullptr); }, 1, true},
      {"empty string", [](BindingProperty& v) { v.SetString(""); }, 0, true},
      {"null text", [](BindingProperty& v) { v.SetString(static_cast<const char*>(nullptr)); }, 0,
       true},
      {"empty blob", [](BindingProperty& v) { v.SetBlob({}); }, 0, true},
      {"empty collection", [](BindingProperty& v) { v.MakeCollection(); }, 0, true},
      {"empty structure", [](BindingProperty& v) { v.MakeStructure(); }, 0, true},
      {"collection of one empty", [](BindingProperty& v) { v.Append(); }, 1, false},
  };
  for (const Row& row : rows) {
    BindingProperty value;
    row.set(value);
    EXPECT_EQ(value.Size(), row.size) << row.name;
    EXPECT_EQ(value.IsEmpty(), row.empty) << row.name;
  }
}

TEST(BindingProperty, StringsKeepEveryByte) {
  BindingProperty value;
  value.SetString(std::string_view("a\0b", 3));
  EXPECT_EQ(value.GetString(), std::string_view("a\0b", 3));
  EXPECT_EQ(value.Size(), 3u);
  value.SetString(value.GetString().substr(2));  // the value's own text
  EXPECT_EQ(value.GetString(), "b");
}

TEST(BindingProperty, BlobsMoveOrCopyTheirBytes) {
  std::vector<std::uint8_t> bytes = {4, 5, 6, 7};
  const std::uint8_t* data = bytes.data();
  BindingProperty moved;
  moved.SetBlob(std::move(bytes));
  EXPECT_EQ(moved.GetBlob().data(), data);

  BindingProperty copied;
  copied.SetBlobCopy(moved.GetBlob());
  EXPECT_NE(copied.GetBlob().data(), data);
  EXPECT_EQ(std::vector<std::uint8_t>(copied.GetBlob().begin(), copied.GetBlob().end()),
            (std::vector<std::uint8_t>{4, 5, 6, 7}));
  copied.SetBlobCopy(copied.GetBlob().subspan(1, 2));  // the value's own bytes
  EXPECT_EQ(copied.Size(), 2u);
  EXPECT_EQ(copied.GetBlob()[0], 5);
}

TEST(BindingProperty, ReadOnlyLookupsMissWithTheSentinel) {
  BindingProperty collection;
  collection.Append().SetSigned(1);
  EXPECT_EQ(&collection.At(0), &collection.Elements()[0]);
  EXPECT_EQ(&collection.At(1), &BindingProperty::EmptySentinel());
  EXPECT_EQ(&collection.Find("x"), &BindingProperty::EmptySentinel());
  EXPECT_FALSE(collection.Has("x"));

  BindingProperty structure;
  structure.Member("x").SetSigned(2);
  EXPECT_EQ(&structure.At(0), &BindingProperty::EmptySentinel());
  EXPECT_EQ(structure.Find("x").GetSigned(), 2);
  EXPECT_EQ(&structure.Find("y"), &BindingProperty::EmptySentinel());
  EXPECT_TRUE(structure.Has("x"));
  EXPECT_FALSE(structure.Has("y"));
  EXPECT_TRUE(BindingProperty::EmptySentinel().Is(ValueKind::kEmpty));
}

TEST(BindingProperty, WritingLookupsReplaceOtherKinds) {
  BindingProperty value;
  value.Append().SetSigned(1);
  value.Member("x");
  EXPECT_EQ(Trace(value), "{1 x: empty /x }");

  value.SetString("text");
  value.AtGrow(2).SetBool(true);
  EXPECT_EQ(Trace(value), "[3 <0 empty 0> <1 empty 1> <2 true 2> ]");
  EXPECT_EQ(&value.AtGrow(1), &value.At(1));  // an existing index does not grow

  // Making a container of the kind it already has keeps its content.
  value.MakeCollection();
  EXPECT_EQ(value.Size(), 3u);

  // The member name may be the value's own text.
  value.SetString("self");
  value.Member(value.GetString()).SetSigned(1);
  EXPECT_EQ(Trace(value), "{1 self: s1 /self }");
}

TEST(BindingProperty, CollectionsGrowKeepingTheirElements) {
  BindingProperty value;
  for (int i = 0; i < 1000; ++i) value.Append().SetSigned(i);
  ASSERT_EQ(value.Size(), 1000u);
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(value.At(i).GetSigned(-1), i);
  value.Reserve(5000);
  EXPECT_EQ(value.At(999).GetSigned(), 999);
  EXPECT_THROW(value.Reserve(0x10000000), std::length_error);
  value.Reserve(0);  // never shrinks
  EXPECT_EQ(value.Size(), 1000u);

  BindingProperty scalar;
  scalar.SetSigned(1);
  scalar.Reserve(10);  // not a collection: left alone
  EXPECT_EQ(scalar.GetSigned(), 1);
}

// Short element arrays share the tree's pool with everything else; growing across the
// size where they move to the general heap, copying and resetting must keep every element
// and give every block back.
TEST(BindingProperty, ShortCollectionsAcrossEveryArraySize) {
  BindingProperty root;
  for (int length = 0; length <= 9; ++length) {
    BindingProperty& list = root.Append().MakeCollection();
    for (int i = 0; i < length; ++i) list.Append().SetString("t" + std::to_string(i));
    if (length > 0) list.AtGrow(static_cast<std::size_t>(length) + 1).MakeCollection().Append();
  }
  const BindingProperty copy = root;
  for (const BindingProperty* tree : std::vector<const BindingProperty*>{&root, &copy}) {
    for (int length = 0; length <= 9; ++length) {
      const BindingProperty& list = tree->At(static_cast<std::size_t>(length));
      ASSERT_EQ(list.Size(), length == 0 ? 0u : static_cast<std::size_t>(length) + 2);
      for (int i = 0; i < length; ++i) EXPECT_EQ(list.At(i).GetString(), "t" + std::to_string(i));
      if (length > 0) {
        EXPECT_TRUE(list.At(length).Is(ValueKind::kEmpty));
        EXPECT_EQ(list.At(length + 1).At(0).Kind(), ValueKind::kEmpty);
        EXPECT_EQ(list.At(length + 1).Size(), 1u);
      }
    }
  }
  // Room reserved first, of every size around the first elements' room.
  for (std::size_t reserved = 0; reserved <= 4; ++reserved) {
    for (int length = 0; length <= 5; ++length) {
      BindingProperty& list = root.Append().MakeCollection();
      list.Reserve(reserved);
      for (int i = 0; i < length; ++i) list.Append().SetSigned(i);
      list.Reserve(reserved + 1);
      ASSERT_EQ(list.Size(), static_cast<std::size_t>(length));
      for (int i = 0; i < length; ++i) EXPECT_EQ(list.At(i).GetSigned(-1), i);
    }
  }
  root.Reset();
  for (std::size_t k = 0; k < ValuePool::kClassCount; ++k) {
    EXPECT_EQ(root.Pool()->UsedBlocks(k), 0u) << "class " << k;
  }
  EXPECT_EQ(root.Pool()->EntryCount(), 0u);
}

TEST(BindingProperty, MembersAreOrderedByteWise) {
  BindingProperty value;
  for (const char* key : {"b", "A", "ab", "a", "\xC3\xA9", "B"}) value.Member(key);
  std::vector<std::string> keys;
  value.ForEachMember(
      [&](std::string_view key, const BindingProperty&) { keys.emplace_back(key); });
  EXPECT_EQ(keys, (std::vector<std::string>{"A", "B", "a", "ab", "b", "\xC3\xA9"}));
  EXPECT_EQ(Trace(value),
            "{6 A: empty /A B: empty /B a: empty /a ab: empty /ab b: empty /b "
            "\xC3\xA9: empty /\xC3\xA9 }");

  // A callback answering false stops the walk.
  int seen = 0;
  EXPECT_FALSE(value.ForEachMember([&](std::string_view, BindingProperty&) { return ++seen < 2; }));
  EXPECT_EQ(seen, 2);
}

TEST(BindingProperty, VisitReportsEveryKindInOrder) {
  BindingProperty value;
  value.Member("b").SetBool(false);
  BindingProperty& list = value.Member("a");
  list.Append().SetUnsigned(3);
  list.Append().SetString("s");
  list.Append().SetBlobCopy(kBytes);
  list.Append().SetEnum(2, nullptr);
  list.Append().MakeStructure();
  list.Append().SetFloat(0.5);
  list.Append();
  value.Member("c").SetSigned(-1);
  value.Member("d").MakeCollection();
  EXPECT_EQ(Trace(value),
            "{4 a: [7 <0 u3 0> <1 's' 1> <2 blob3 2> <3 enum2 3> <4 {0 } 4> <5 f0.500000 5> "
            "<6 empty 6> ] /a b: false /b c: s-1 /c d: [0 ] /d }");
  BindingProperty emptyStructure;
  emptyStructure.MakeStructure();
  EXPECT_EQ(Trace(emptyStructure), "{0 }");
}

TEST(BindingProperty, SameTextIsInternedOncePerTree) {
  BindingProperty root;
  for (int i = 0; i < 50; ++i) {
    BindingProperty& item = root.Append();
    item.Member("name").SetString("shared");
    item.Member("shared");
  }
  ValuePool* pool = root.Pool();
  ASSERT_NE(pool, nullptr);
  EXPECT_EQ(pool->EntryCount(), 2u);
  EXPECT_EQ(pool->FindEntry("shared")->refCount, 100u);  // 50 strings and 50 keys
  EXPECT_EQ(pool->FindEntry("name")->refCount, 50u);
  for (BindingProperty& item : root.Elements()) item.Reset();
  EXPECT_EQ(pool->EntryCount(), 0u);
  EXPECT_EQ(pool->FindEntry("shared"), nullptr);
}

TEST(BindingProperty, CopyIsDeepAndReinternsInTheTargetPool) {
  BindingProperty source;
  source.Member("s").SetString("text");
  source.Member("l").Append().SetBlobCopy(kBytes);
  source.Member("l").Append().SetEnum(1, nullptr);
  source.Member("n").Member("deep").SetFloat(1.5);

  BindingProperty copy(source);
  EXPECT_EQ(Trace(copy), Trace(source));
  EXPECT_NE(copy.Pool(), source.Pool());
  EXPECT_NE(copy.Pool()->FindEntry("text"), nullptr);
  EXPECT_NE(copy.Find("l").At(0).GetBlob().data(), source.Find("l").At(0).GetBlob().data());

  source.Reset();  // the copy shares nothing with its source
  EXPECT_EQ(copy.Find("s").GetString(), "text");

  BindingProperty target;
  BindingProperty& member = target.Member("m");
  member.CopyFrom(copy);  // into a member: uses the member's tree pool
  EXPECT_EQ(target.Pool()->FindEntry("text")->refCount, 1u);
  EXPECT_EQ(Trace(member), Trace(copy));
}

TEST(BindingProperty, CopyWithinOneTree) {
  BindingProperty root;
  root.Member("a").Member("x").SetString("v");
  // An ancestor into its own descendant, then a descendant into its ancestor.
  root.Member("a").Member("copy").CopyFrom(root);
  // The member "copy" exists (empty) when the copy is taken.
  EXPECT_EQ(Trace(root.Find("a").Find("copy")), "{1 a: {2 copy: empty /copy x: 'v' /x } /a }");
  root.CopyFrom(root.Find("a").Find("x"));
  EXPECT_EQ(Trace(root), "'v'");
  EXPECT_EQ(root.Pool()->FindEntry("v")->refCount, 1u);
  root.CopyFrom(root);
  EXPECT_EQ(root.GetString(), "v");
}

TEST(BindingProperty, MoveBetweenStandaloneValuesExchangesCells) {
  BindingProperty source;
  source.Member("k").SetString("v");
  ValuePool* sourcePool = source.Pool();
  BindingProperty target;
  target.SetSigned(1);
  target.MoveFrom(source);
  EXPECT_EQ(target.Pool(), sourcePool);
  EXPECT_EQ(Trace(target), "{1 k: 'v' /k }");
  EXPECT_TRUE(source.Is(ValueKind::kEmpty));

  BindingProperty constructed(std::move(target));
  EXPECT_EQ(constructed.Pool(), sourcePool);
  EXPECT_TRUE(target.Is(ValueKind::kEmpty));
}

TEST(BindingProperty, MoveIntoOrOutOfATreeCopiesAndEmptiesTheSource) {
  BindingProperty source;
  source.Member("k").SetString("v");
  BindingProperty tree;
  BindingProperty& member = tree.Member("m");
  member.MoveFrom(source);
  EXPECT_EQ(Trace(member), "{1 k: 'v' /k }");
  EXPECT_TRUE(source.Is(ValueKind::kEmpty));
  EXPECT_EQ(tree.Pool()->FindEntry("v")->refCount, 1u);

  BindingProperty out(std::move(tree.Member("m")));
  EXPECT_TRUE(out.OwnsPool());
  EXPECT_NE(out.Pool(), tree.Pool());
  EXPECT_EQ(Trace(out), "{1 k: 'v' /k }");
  EXPECT_TRUE(tree.Find("m").Is(ValueKind::kEmpty));
  EXPECT_EQ(tree.Pool()->EntryCount(), 1u);  // only the key "m" is left
}

TEST(BindingProperty, MoveWithinOneTree) {
  BindingProperty root;
  root.Member("a").Member("b").SetString("v");
  root.Member("c").MoveFrom(root.Member("a").Member("b"));
  EXPECT_EQ(Trace(root), "{2 a: {1 b: empty /b } /a c: 'v' /c }");
  root.MoveFrom(root.Member("c"));  // a descendant replaces its ancestor
  EXPECT_EQ(Trace(root), "'v'");
  EXPECT_EQ(root.Pool()->EntryCount(), 1u);
}

// A container moved into a value inside it would contain itself: the move is refused
// with an assertion report, and the tree stays as it was.
TEST(BindingProperty, MoveOfAContainerIntoItsOwnPartIsRefused) {
  const LogApi& api = GetLogApi();
  api.Acquire();
  for (LogTargetEntry* entry : {api.StdErrTarget(), api.DebuggerTarget()}) entry->Detach(entry);
  {
    Testing::CapturingLogTarget target;
    LogTargetSettings settings;
    settings.level = kLogLevelOkay;
    Configure(target, settings);
    BindingProperty root;
    BindingProperty& deep = root.Member("a").Append().Member("b");
    deep.SetString("v");
    root.Member("c").Append().SetSigned(1);
    const std::string before = Trace(root);
    BindingProperty& a = root.Member("a");
    for (BindingProperty* part : {&deep, &a, &a.AtGrow(0)}) {
      part->MoveFrom(root);
      EXPECT_EQ(Trace(root), before);
    }
    deep.MoveFrom(a);
    EXPECT_EQ(Trace(root), before);
    // A sibling, or a part of another branch, is no part of the source.
    root.Member("c").AtGrow(0).MoveFrom(a.AtGrow(0));
    EXPECT_EQ(Trace(root), "{2 a: [1 <0 empty 0> ] /a c: [1 <0 {1 b: 'v' /b } 0> ] /c }");
    const auto messages = target.Messages();
    ASSERT_EQ(messages.size(), 4u);
    for (const std::string& message : messages) {
      EXPECT_EQ(message,
                "Assertion failed!\n\nExpression: ALE-3271836A\n\nDescription: A value cannot "
                "be moved into one of its own elements or members.");
    }
  }
  api.Release();
}

// Nesting far beyond what any reader accepts: copy, visit and reset must not recurse.
TEST(BindingProperty, DeepNestingNeedsNoRecursion) {
  constexpr int kDepth = 200000;
  BindingProperty root;
  BindingProperty* cursor = &root;
  for (int i = 0; i < kDepth; ++i) cursor = (i % 2 == 0) ? &cursor->Member("m") : &cursor->Append();
  cursor->SetString("leaf");

  BindingProperty copy(root);
  struct DepthVisitor : BindingVisitor {
    int depth = 0;
    int deepest = 0;
    void BeginCollection(std::size_t) override { deepest = std::max(deepest, ++depth); }
    void BeginStructure(std::size_t) override { deepest = std::max(deepest, ++depth); }
    void EndCollection() override { --depth; }
    void EndStructure() override { --depth; }
  } visitor;
  copy.Visit(visitor);
  EXPECT_EQ(visitor.deepest, kDepth);
  EXPECT_EQ(visitor.depth, 0);
  root.Reset();
  EXPECT_EQ(root.Pool()->EntryCount(), 0u);
}

TEST(BindingProperty, DestroyedTreesReturnTheirPages) {
  const std::size_t before = PageProvider::Instance().PagesInUse();
  {
    BindingProperty root;
    for (int i = 0; i < 2000; ++i) {
      BindingProperty& item = root.Append();
      item.Member("id" + std::to_string(i)).SetString("value" + std::to_string(i));
      item.Member("e").SetEnum(i, nullptr);
    }
    EXPECT_GT(PageProvider::Instance().PagesInUse(), before);
    BindingProperty copy = root;
    root.Reset();
    EXPECT_GT(PageProvider::Instance().PagesInUse(), before);
    // Destroyed whole, a tree frees what lives outside its pool too (the leak checker
    // of the sanitizer build sees anything left): blob bytes, long texts, long element
    // and member arrays.
    BindingProperty& mixed = copy.Append();
    mixed.Member("blob").SetBlobCopy(std::vector<std::uint8_t>(100, 7));
    mixed.Member("text").SetString(std::string(200, 'x'));
    for (int i = 0; i < 40; ++i) mixed.Member("list").Append().SetBlobCopy({});
    for (int i = 0; i < 40; ++i) mixed.Member("wide").Member(std::to_string(i)).SetSigned(i);
  }
  EXPECT_EQ(PageProvider::Instance().PagesInUse(), before);
}

TEST(BindingResult, FailAndErrorText) {
  BindingResult result;
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.ErrorText(), "");
  result.value.SetSigned(1);
  result.Fail("Something went wrong.");
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(Trace(result.value), "{1 error: 'Something went wrong.' /error }");
  EXPECT_EQ(result.ErrorText(), "Something went wrong.");
  result.Fail(result.value.Find("error").GetString());  // its own message again
  EXPECT_EQ(result.ErrorText(), "Something went wrong.");

  result.value.Member("error").SetSigned(3);
  EXPECT_EQ(result.ErrorText(), "");
  result.value.Reset();
  EXPECT_EQ(result.ErrorText(), "");
  result.ok = true;
  result.Fail("again");
  result.ok = true;
  EXPECT_EQ(result.ErrorText(), "");
}

}  // namespace
}  // namespace Kavren
