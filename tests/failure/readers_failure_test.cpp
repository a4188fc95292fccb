// The readers, the writer and the host-value conversions with each of their allocations
// refused in turn: each run ends in the entry point's own failure, leaks nothing (heap
// accounting and process heap), and the entry point reads as before afterwards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "binding/host_value.h"
#include "binding/value.h"
#include "failing_heap_support.h"
#include "formats/json.h"
#include "formats/msgpack.h"
#include "formats/yaml.h"
#include "util/format.h"

namespace Kavren::Testing {
namespace {

using ::testing::IsEmpty;

// A document with every kind of JSON value, escapes, repeated and long keys, and enough
// members that the tree takes pool pages of its own.
std::string RepresentativeJson() {
  std::string json = R"({"b":[1,-2,3.5,true,false,null,"text","\u00e9\n"],)"
                     R"("a":{"nested":{"deep":[["x"],{"y":1}]},"a member key longer than 72 )"
                     R"(bytes, so that its interned text lives in the general heap.....":"v"},)"
                     R"("b":[9],"items":[)";
  for (int i = 0; i < 64; ++i) {
    if (i != 0) json += ",";
    json += R"({"id":)" + std::to_string(i) + R"(,"name":"item)" + std::to_string(i) + R"("})";
  }
  return json + "]}";
}

// MessagePack: a map with nested containers, a repeated key, a bin, a str8 and numbers.
std::string RepresentativeMessagePack() {
  std::string bytes = "\x85";
  const auto key = [&bytes](const std::string& text) {
    bytes += static_cast<char>(0xA0 | text.size());
    bytes += text;
  };
  key("a");
  bytes += "\x94\x01\xCC\xC8\xD0\x85\xCB\x40\x09\x21\xFB\x54\x44\x2D\x18";
  key("b");
  bytes += "\x82";
  key("c");
  bytes += "\xC3";
  key("d");
  bytes += std::string("\xC4\x03\x00\x01\x02", 5);
  key("s");
  bytes += "\xD9\x28";
  bytes += std::string(40, 's');
  key("a");  // repeated: writes over the first array's elements
  bytes += "\x91\xC0";
  key("l");
  bytes += std::string("\xDC\x00\x20", 3);
  for (int i = 0; i < 32; ++i) {
    bytes += "\x81";
    key("k");
    bytes += static_cast<char>(i);
  }
  return bytes;
}

// YAML: anchors on values and keys, aliases, flow and block containers, tags, a block
// scalar and every plain scalar type.
constexpr char kRepresentativeYaml[] = R"(---
title: &t Welcome
list: &l [1, 2.5, -3, yes, ~, "quoted", 0x10]
copy: *l
again: *t
map:
  &k key: value
  other: *k
  nested: {a: [x, y], b: !!str 42, c: !!int "-7", d: !!float "1e3"}
text: |
  a literal
  block
items:
  - {id: 1, name: one}
  - {id: 2, name: two}
  - {id: 3, name: three}
)";

// "ok" when `read` gave what the unrefused read gives, else its failure text.
void Judge(const BindingResult& read, const std::string& expected, SweepOutcome& outcome) {
  if (!read.ok) {
    outcome = "failure: ";
    outcome += read.ErrorText();
  } else if (WriteJson(read.value) != expected) {
    outcome = "WRONG: a different value";
  } else {
    outcome = "ok";
  }
}

// Sweeps a reader: a refusal surfaces as std::bad_alloc, or is absorbed.
void SweepReader(const std::string& name, const std::function<BindingResult()>& read) {
  const std::string expected = WriteJson(read().value);
  const SweepReport report = Sweep(name, [&](SweepOutcome& outcome) {
    try {
      BindingResult result;
      {
        RefusalWindow window;
        result = read();
      }
      Judge(result, expected, outcome);
    } catch (const std::bad_alloc&) {
      outcome = "std::bad_alloc";
    }
  });
  EXPECT_THAT(report.faults, IsEmpty()) << name;
  EXPECT_GT(report.allocations, 0u) << name;
  for (const auto& [text, count] : report.outcomes) {
    EXPECT_THAT(text, ::testing::AnyOf("std::bad_alloc", "ok")) << name;
  }
}

TEST(ReaderFailureTest, ReadJsonSurvivesEveryRefusal) {
  const std::string text = RepresentativeJson();
  SweepReader("ReadJson", [&text] { return ReadJson(text); });
}

TEST(ReaderFailureTest, ReadMessagePackSurvivesEveryRefusal) {
  const std::string bytes = RepresentativeMessagePack();
  SweepReader("ReadMessagePack", [&bytes] {
    std::size_t consumed = 0;
    BindingResult result = ReadMessagePack(bytes.data(), bytes.size(), consumed);
    if (result.ok && consumed != bytes.size()) result.Fail("consumed a part");
    return result;
  });
}

TEST(ReaderFailureTest, ReadYamlSurvivesEveryRefusal) {
  SweepReader("ReadYaml", [] { return ReadYaml(kRepresentativeYaml); });
}

// A refusal deep inside the YAML reader unwinds through it: libyaml's parser state (some
// 68 KB of its own buffers, outside the accounting) goes with the reader all the same.
TEST(ReaderFailureTest, ReadYamlReleasesTheParserWhenTheTreeThrows) {
  FailingHeap heap;
  ASSERT_TRUE(ReadYaml(kRepresentativeYaml).ok);
  // Counted with no other tree alive, as in the refused runs below: a tree held meanwhile
  // would make the read take fresh pages, and the page table's growth numbers allocations.
  heap.Prepare(0);
  {
    RefusalWindow window;
    ASSERT_TRUE(ReadYaml(kRepresentativeYaml).ok);
  }
  const std::uint64_t allocations = heap.Numbered();
  std::size_t before = 0;
  const bool measured = MallocBytesInUse(before);
  // Each allocation refused in turn: most unwind through the reader; a refused allocation
  // of the builder's shape memory is absorbed, and that read completes.
  std::uint64_t unwound = 0;
  std::uint64_t completed = 0;
  for (std::uint64_t k = 1; k <= allocations; ++k) {
    heap.Prepare(k);
    RefusalWindow window;
    try {
      if (ReadYaml(kRepresentativeYaml).ok) ++completed;
    } catch (const std::bad_alloc&) {
      ++unwound;
    }
  }
  EXPECT_GT(unwound, allocations / 2);
  EXPECT_EQ(unwound + completed, allocations);
  std::size_t after = 0;
  if (measured && MallocBytesInUse(after)) {
    EXPECT_EQ(after, before);
  }
}

TEST(ReaderFailureTest, WriteJsonSurvivesEveryRefusal) {
  const BindingResult tree = ReadJson(RepresentativeJson());
  ASSERT_TRUE(tree.ok);
  const std::string expected = WriteJson(tree.value, nullptr, "\r\n");
  const SweepReport report = Sweep("WriteJson", [&](SweepOutcome& outcome) {
    try {
      std::string text;
      {
        RefusalWindow window;
        text = WriteJson(tree.value, nullptr, "\r\n");
      }
      outcome = text == expected ? "ok" : "WRONG: a different text";
    } catch (const std::bad_alloc&) {
      outcome = "std::bad_alloc";
    }
  });
  EXPECT_THAT(report.faults, IsEmpty());
  for (const auto& [text, count] : report.outcomes) {
    EXPECT_THAT(text, ::testing::AnyOf("std::bad_alloc", "ok"));
  }
}

TEST(ReaderFailureTest, HostValueConversionsSurviveEveryRefusal) {
  const BindingResult tree = ReadJson(RepresentativeJson());
  ASSERT_TRUE(tree.ok);
  const std::string expected = WriteJson(tree.value);
  HostValueHolder input;
  ValueToHost(input.value(), tree.value, nullptr);

  const SweepReport toValue = Sweep("HostToValue", [&](SweepOutcome& outcome) {
    try {
      BindingProperty output;
      MaybeType<Failure, void> converted;
      {
        RefusalWindow window;
        converted = HostToValue(output, input.value(), "arg");
      }
      if (converted.Failed()) {
        outcome = "WRONG: failed with ";
        outcome += converted.GetFailure().message.View();
      } else {
        outcome = WriteJson(output) == expected ? "ok" : "WRONG: a different value";
      }
    } catch (const std::bad_alloc&) {
      outcome = "std::bad_alloc";
    }
  });
  EXPECT_THAT(toValue.faults, IsEmpty());
  for (const auto& [text, count] : toValue.outcomes) {
    EXPECT_THAT(text, ::testing::AnyOf("std::bad_alloc", "ok"));
  }

  const SweepReport toHost = Sweep("ValueToHost", [&](SweepOutcome& outcome) {
    try {
      HostValueHolder output;
      {
        RefusalWindow window;
        ValueToHost(output.value(), tree.value, nullptr);
      }
      BindingProperty back;
      const bool same =
          HostToValue(back, output.value(), "arg").Succeeded() && WriteJson(back) == expected;
      outcome = same ? "ok" : "WRONG: a different record";
    } catch (const std::bad_alloc&) {
      outcome = "std::bad_alloc";
    }
  });
  EXPECT_THAT(toHost.faults, IsEmpty());
  for (const auto& [text, count] : toHost.outcomes) {
    EXPECT_THAT(text, ::testing::AnyOf("std::bad_alloc", "ok"));
  }
}

TEST(ReaderFailureTest, AFormattedTextThatCannotBeMadeIsAFailureNotAnEmptyText) {
  const char* const kLong = "a text too long to be kept without an allocation: %1";
  FailingHeap heap;
  heap.Prepare(1);
  {
    RefusalWindow window;
    EXPECT_THROW(Format(kLong, 7), std::bad_alloc);
  }
  heap.Prepare(1);
  MaybeType<Failure, std::string> text = std::string();
  {
    RefusalWindow window;
    text = TryFormat(kLong, 7);
  }
  ASSERT_TRUE(text.Failed());
  EXPECT_EQ(text.GetFailure().code, 500);
  EXPECT_EQ(text.GetFailure().message, FormatterMessages::kNoMemory);
  EXPECT_EQ(TryFormat(kLong, 7).Value(), "a text too long to be kept without an allocation: 7");
}

}  // namespace
}  // namespace Kavren::Testing
