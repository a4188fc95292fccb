// Host value records: word layout of numbers, owned parts, readers, the release and the
// conversion failures.
#include "binding/host_value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "binding/value.h"
#include "util/accounting.h"

namespace Kavren {
namespace {

using Abi::HostStructMember;
using Abi::HostValue;
using Abi::HostWord;

TEST(HostValue, TypeNames) {
  const char* expected[] = {"",       "bool", "signed", "unsigned",   "float",    "string",
                            "string", "blob", "blob",   "collection", "structure"};
  for (HostWord type = 0; type < 11; ++type) {
    EXPECT_STREQ(HostValueTypeName(type), expected[type]) << type;
  }
  EXPECT_STREQ(HostValueTypeName(11), "");
  EXPECT_STREQ(HostValueTypeName(static_cast<HostWord>(-1)), "");
}

// 64-bit numbers travel as low 32 bits in `data` and high 32 bits in `extra` on both ABIs.
TEST(HostValue, SixtyFourBitNumbersSplitIntoTwoWords) {
  struct Row {
    std::int64_t number;
    HostWord data;
    HostWord extra;
  };
  for (const Row row : {Row{0, 0, 0}, Row{-2, 0xFFFFFFFEu, 0xFFFFFFFFu},
                        Row{0x123456789ABCDEF0, 0x9ABCDEF0u, 0x12345678u},
                        Row{std::numeric_limits<std::int64_t>::min(), 0, 0x80000000u}}) {
    HostValue value{};
    SetHostSigned(value, row.number);
    EXPECT_EQ(value.type, Abi::kHostValueSigned);
    EXPECT_EQ(value.data, row.data) << row.number;
    EXPECT_EQ(value.extra, row.extra) << row.number;
    EXPECT_EQ(HostSigned(value), row.number);
    SetHostUnsigned(value, static_cast<std::uint64_t>(row.number));
    EXPECT_EQ(value.type, Abi::kHostValueUnsigned);
    EXPECT_EQ(value.data, row.data);
    EXPECT_EQ(value.extra, row.extra);
    EXPECT_EQ(HostUnsigned(value), static_cast<std::uint64_t>(row.number));
  }

  HostValue value{};
  SetHostFloat(value, 1.0);  // 0x3FF0000000000000
  EXPECT_EQ(value.type, Abi::kHostValueFloat);
  EXPECT_EQ(value.data, 0u);
  EXPECT_EQ(value.extra, 0x3FF00000u);
  EXPECT_EQ(HostFloat(value), 1.0);
  SetHostFloat(value, -std::numeric_limits<double>::infinity());
  EXPECT_EQ(HostFloat(value), -std::numeric_limits<double>::infinity());
  SetHostFloat(value, std::nan(""));
  EXPECT_TRUE(std::isnan(HostFloat(value)));
}

TEST(HostValue, ReadersAnswerDefaultsForOtherTypesAndNullPointers) {
  HostValue boolean{};
  SetHostBool(boolean, true);
  EXPECT_TRUE(HostBool(boolean));
  EXPECT_EQ(HostSigned(boolean), 0);
  EXPECT_EQ(HostText(boolean), "");
  EXPECT_TRUE(HostMembers(boolean).empty());
  const HostValue nullText{Abi::kHostValueBorrowedString, 0, 0};
  EXPECT_EQ(HostText(nullText), "");
  const HostValue nullBytes{Abi::kHostValueOwnedBlob, 0, 5};
  EXPECT_TRUE(HostBytes(nullBytes).empty());
  const HostValue nullArray{Abi::kHostValueCollection, 0, 5};
  EXPECT_TRUE(HostElements(nullArray).empty());
}

TEST(HostValue, BorrowedPartsAreReadButNeverFreed) {
  static const char text[] = "borrowed";
  static const std::uint8_t bytes[] = {1, 2, 3};
  HostValue value{};
  SetHostBorrowedString(value, text);
  EXPECT_EQ(value.type, Abi::kHostValueBorrowedString);
  EXPECT_EQ(HostText(value).data(), text);
  ReleaseHostValue(value);  // a free of the static text would fail under the sanitizer
  EXPECT_EQ(value.type, Abi::kHostValueEmpty);

  SetHostBorrowedBlob(value, bytes);
  EXPECT_EQ(value.type, Abi::kHostValueBorrowedBlob);
  EXPECT_EQ(value.extra, 3u);
  EXPECT_EQ(HostBytes(value).data(), bytes);
  ReleaseHostValue(value);
}

TEST(HostValue, OwnedTextAndBytesAreCopies) {
  std::string text = "owned";
  HostValueHolder holder;
  SetHostOwnedString(holder.value(), text);
  EXPECT_EQ(holder.value().type, Abi::kHostValueOwnedString);
  EXPECT_EQ(holder.value().extra, 5u);
  EXPECT_NE(HostText(holder.value()).data(), text.data());
  EXPECT_STREQ(reinterpret_cast<const char*>(holder.value().data), "owned");

  const std::uint8_t bytes[] = {9, 8};
  HostValue blob{};
  SetHostOwnedBlob(blob, bytes);
  EXPECT_EQ(blob.type, Abi::kHostValueOwnedBlob);
  EXPECT_NE(HostBytes(blob).data(), bytes);
  EXPECT_EQ(HostBytes(blob)[1], 8);
  ReleaseHostValue(blob);
  EXPECT_EQ(blob.data, 0u);
}

// A nested record with every owned part gives back every accounted byte.
TEST(HostValue, ReleaseFreesEveryOwnedPartThroughTheAccounting) {
  const std::uint64_t before = Accounting::BytesInUse();
  HostValue root{};
  std::span<HostStructMember> members = MakeHostStructure(root, 3);
  SetHostMemberKey(members[0], "list");
  std::span<HostValue> list = MakeHostCollection(members[0].value, 3);
  SetHostOwnedString(list[0], "text");
  const std::uint8_t bytes[] = {1, 2};
  SetHostOwnedBlob(list[1], bytes);
  std::span<HostStructMember> inner = MakeHostStructure(list[2], 1);
  inner[0].key = "borrowed key";  // flag 0: not freed
  SetHostOwnedString(inner[0].value, "deep");
  SetHostMemberKey(members[1], "first");
  SetHostMemberKey(members[1], "renamed");  // the replaced owned key is freed
  SetHostSigned(members[1].value, -1);
  // members[2] stays zeroed: null key, empty value.
  EXPECT_GT(Accounting::BytesInUse(), before);

  EXPECT_EQ(HostMembers(root).size(), 3u);
  EXPECT_STREQ(HostMembers(root)[1].key, "renamed");
  EXPECT_EQ(HostMembers(root)[1].keyOwned, 1);
  EXPECT_EQ(HostElements(HostMembers(root)[0].value).size(), 3u);

  ReleaseHostValue(root);
  EXPECT_EQ(root.type, Abi::kHostValueEmpty);
  EXPECT_EQ(root.data, 0u);
  EXPECT_EQ(root.extra, 0u);
  EXPECT_EQ(Accounting::BytesInUse(), before);
}

TEST(HostValue, DeepRecordsReleaseWithoutRecursion) {
  constexpr int kDepth = 200000;
  const std::uint64_t before = Accounting::BytesInUse();
  HostValue root{};
  HostValue* cursor = &root;
  for (int i = 0; i < kDepth; ++i) {
    if (i % 2 == 0) {
      cursor = &MakeHostCollection(*cursor, 1)[0];
    } else {
      HostStructMember& member = MakeHostStructure(*cursor, 1)[0];
      SetHostMemberKey(member, "k");
      cursor = &member.value;
    }
  }
  SetHostOwnedString(*cursor, "leaf");
  ReleaseHostValue(root);
  EXPECT_EQ(Accounting::BytesInUse(), before);
}

// Containers beside containers at every level: the walk goes down again from a container
// it came back up to, through elements and member values alike.
TEST(HostValue, WideRecordsReleaseEveryBranch) {
  const std::uint64_t before = Accounting::BytesInUse();
  HostValue root{};
  std::span<HostStructMember> members = MakeHostStructure(root, 4);
  for (std::size_t m = 0; m < 3; ++m) {
    SetHostMemberKey(members[m], "m" + std::to_string(m));
    std::span<HostValue> lists = MakeHostCollection(members[m].value, 3);
    for (std::size_t l = 0; l < 2; ++l) {
      std::span<HostValue> texts = MakeHostCollection(lists[l], 2);
      SetHostOwnedString(texts[0], "a");
      SetHostOwnedString(texts[1], "b");
    }
    MakeHostCollection(lists[2], 0);  // an empty array is still freed
  }
  members[3].value = {Abi::kHostValueCollection, 0, 7};  // no array: nothing to walk
  ReleaseHostValue(root);
  EXPECT_EQ(root.type, Abi::kHostValueEmpty);
  EXPECT_EQ(root.data, 0u);
  EXPECT_EQ(Accounting::BytesInUse(), before);
}

TEST(HostValue, HolderHandsOverOrReleases) {
  const std::uint64_t before = Accounting::BytesInUse();
  HostValue taken{};
  {
    HostValueHolder holder;
    SetHostOwnedString(holder.value(), "kept");
    taken = holder.Release();
    EXPECT_EQ(holder.value().type, Abi::kHostValueEmpty);
  }
  EXPECT_EQ(HostText(taken), "kept");
  ReleaseHostValue(taken);
  {
    HostValueHolder holder;
    MakeHostCollection(holder.value(), 4);
  }
  EXPECT_EQ(Accounting::BytesInUse(), before);
}

TEST(HostValue, ConversionFailures) {
  Abi::HostValue unknown{11, 0, 0};
  BindingProperty output;
  const MaybeType<Failure, void> error = HostToValue(output, unknown, "arg");
  EXPECT_TRUE(error.Failed());
  EXPECT_EQ(error.GetFailure().message,
            "Couldn't assign value to 'arg' of type object because the input is of an "
            "incompatible type ''.");

  // 512 nested collections are accepted, 513 are refused.
  auto nest = [](std::size_t depth) {
    std::vector<Abi::HostValue> chain(depth);
    for (std::size_t index = 0; index < depth; ++index) {
      const bool last = index + 1 == depth;
      chain[index] = {Abi::kHostValueCollection,
                      last ? 0 : reinterpret_cast<Abi::HostWord>(&chain[index + 1]),
                      last ? 0u : 1u};
    }
    return chain;
  };
  std::vector<Abi::HostValue> deepest = nest(512);
  EXPECT_TRUE(HostToValue(output, deepest[0], "arg"));
  std::vector<Abi::HostValue> tooDeep = nest(513);
  BindingProperty deep;
  const MaybeType<Failure, void> refused = HostToValue(deep, tooDeep[0], "arg");
  EXPECT_TRUE(refused.Failed());
  EXPECT_EQ(refused.GetFailure().message,
            "Couldn't assign value to 'arg' because the input is nested deeper than 512 levels.");
}

TEST(HostValue, CollectionAboveTheElementLimitIsRefusedWithItsText) {
  // Only the announced count matters: the elements are not read once it is refused.
  Abi::HostValue element{Abi::kHostValueSigned, 1, 0};
  const Abi::HostValue input{Abi::kHostValueCollection, reinterpret_cast<Abi::HostWord>(&element),
                             0x10000000};
  BindingProperty output;
  const MaybeType<Failure, void> refused = HostToValue(output, input, "arg");
  EXPECT_TRUE(refused.Failed());
  EXPECT_EQ(refused.GetFailure().message,
            "Couldn't assign value to 'arg' because the input is too large: more than 268435455 "
            "elements in one collection.");
}

TEST(HostValue, StructureWithARepeatedKeyKeepsTheLastValue) {
  Abi::HostValue one{Abi::kHostValueSigned, 1, 0};
  Abi::HostValue two{Abi::kHostValueSigned, 2, 0};
  Abi::HostStructMember members[] = {
      {"k", {Abi::kHostValueCollection, reinterpret_cast<Abi::HostWord>(&one), 1}, 0},
      {"k", {Abi::kHostValueCollection, reinterpret_cast<Abi::HostWord>(&two), 1}, 0},
  };
  const Abi::HostValue input{Abi::kHostValueStructure, reinterpret_cast<Abi::HostWord>(members), 2};
  BindingProperty output;
  ASSERT_TRUE(HostToValue(output, input, "arg"));
  ASSERT_EQ(output.Find("k").Size(), 1u);
  EXPECT_EQ(output.Find("k").At(0).GetSigned(), 2);
}

TEST(HostValue, StructureInAnyKeyOrderComesOutInKeyOrderEvenAfterAFailure) {
  // 40 keys in descending order, one of them again (replacing its value), then a value of
  // an unknown type: the members converted before the failure stay, in key order.
  HostValueHolder host;
  const std::span<Abi::HostStructMember> members = MakeHostStructure(host.value(), 42);
  for (int i = 0; i < 40; ++i) {
    SetHostMemberKey(members[i], "k" + std::to_string(100 - i));
    SetHostSigned(members[i].value, 100 - i);
  }
  SetHostMemberKey(members[40], "k70");
  SetHostOwnedString(members[40].value, "again");
  SetHostMemberKey(members[41], "bad");
  members[41].value.type = 11;

  BindingProperty output;
  const MaybeType<Failure, void> error = HostToValue(output, host.value(), "arg");
  EXPECT_TRUE(error.Failed());
  EXPECT_EQ(error.GetFailure().message,
            "Couldn't assign value to 'arg' of type object because the input is of an "
            "incompatible type ''.");
  std::vector<std::string> keys;
  output.ForEachMember(
      [&](std::string_view key, const BindingProperty&) { keys.emplace_back(key); });
  ASSERT_EQ(keys.size(), 41u);  // "bad" was added, empty, before its value failed
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
  EXPECT_EQ(output.Find("k70").GetString(), "again");
  EXPECT_EQ(output.Find("k61").GetSigned(), 61);
}

}  // namespace
}  // namespace Kavren
