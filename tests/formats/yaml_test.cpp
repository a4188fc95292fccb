// Tests of the YAML reader and its format test.
#include "formats/yaml.h"

#include <gtest/gtest.h>

#include <string>

#include "formats/value_text_support.h"

namespace Kavren {
namespace {

using Testing::KindText;

struct YamlCase {
  std::string text;
  std::string expected;  // KindText of the value, or the failure message
  bool ok = true;
};

void PrintTo(const YamlCase& c, std::ostream* os) { *os << c.text.substr(0, 60); }

class YamlReadTest : public testing::TestWithParam<YamlCase> {};

TEST_P(YamlReadTest, ReadsValueOrFailure) {
  const YamlCase& c = GetParam();
  const BindingResult result = ReadYaml(c.text);
  EXPECT_EQ(result.ok, c.ok) << result.ErrorText();
  if (c.ok) {
    EXPECT_EQ(KindText(result.value), c.expected);
  } else {
    EXPECT_EQ(result.ErrorText(), c.expected);
    EXPECT_EQ(result.value.Size(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    PlainScalars, YamlReadTest,
    testing::Values(YamlCase{"", "null"}, YamlCase{"~", "null"}, YamlCase{"null", "null"},
                    YamlCase{"42", "u42"}, YamlCase{"-3", "s-3"}, YamlCase{"2.0", "u2"},
                    YamlCase{"1e3", "u1000"}, YamlCase{"-0", "u0"}, YamlCase{"0.5", "f0.5"},
                    YamlCase{"nan", "fnan"}, YamlCase{"inf", "\"inf\""},
                    YamlCase{".inf", "\".inf\""}, YamlCase{"0x10", "u16"}, YamlCase{"yes", "true"},
                    YamlCase{"Off", "false"}, YamlCase{"TRUE", "true"},
                    YamlCase{"tRUE", "\"tRUE\""}, YamlCase{"hello world", "\"hello world\""},
                    // Whole numbers beyond the 64-bit ranges stay floats.
                    YamlCase{"1e20", "f1e+20"}, YamlCase{"-1e19", "f-1e+19"},
                    YamlCase{"18446744073709549568", "u18446744073709549568"}));

INSTANTIATE_TEST_SUITE_P(
    QuotedBlockAndTaggedScalars, YamlReadTest,
    testing::Values(
        YamlCase{"'42'", "\"42\""}, YamlCase{"\"yes\"", "\"yes\""}, YamlCase{"''", "\"\""},
        YamlCase{"!!str 42", "\"42\""}, YamlCase{"|-\n  42\n", "u42"},
        YamlCase{"|\n  42\n", "\"42\n\""}, YamlCase{">-\n  1.5\n", "f1.5"},
        YamlCase{"!!int -12", "s-12"}, YamlCase{"!!int 0x1F", "u31"}, YamlCase{"!!float 2", "f2"},
        YamlCase{"!!bool on", "true"}, YamlCase{"!!bool NO", "false"},
        YamlCase{"!!bool maybe", "null"},
        YamlCase{"!!int abc", "Value abc for 'yaml' of type uint64_t is in an incorrect format",
                 false},
        YamlCase{"!!int -abc", "Value -abc for 'yaml' of type int64_t is in an incorrect format",
                 false},
        YamlCase{"!!int 18446744073709551616",
                 "Value 18446744073709551616 for 'yaml' of type uint64_t is out of range", false},
        YamlCase{"!!float x1", "Value x1 for 'yaml' of type double is in an incorrect format",
                 false},
        YamlCase{"!!binary AAAA", "Unsupported YAML tag 'tag:yaml.org,2002:binary'.", false},
        YamlCase{"!local 1", "Unsupported YAML tag '!local'.", false}));

INSTANTIATE_TEST_SUITE_P(
    Containers, YamlReadTest,
    testing::Values(YamlCase{"a:\nb: 1\n", "{a:null,b:u1}"},
                    YamlCase{"[1, two, 'three']", "[u1,\"two\",\"three\"]"},
                    YamlCase{"- a: 1\n  b: [x, {}]\n- []\n", "[{a:u1,b:[\"x\",{}]},[]]"},
                    YamlCase{"b: 1\nA: 2\na: 3\n", "{A:u2,a:u3,b:u1}"},
                    // An empty key is a key like any other.
                    YamlCase{"? ''\n: 1\nx: 2\n", "{:u1,x:u2}"},
                    // Repeated keys: a later scalar replaces, a later mapping merges.
                    YamlCase{"a: {x: 1}\na: 5\n", "{a:u5}"},
                    YamlCase{"a: {x: 1}\na: {y: 2}\nb: 3\n", "{a:{x:u1,y:u2},b:u3}"},
                    YamlCase{"a: [1]\na: [2]\n", "{a:[u1,u2]}"}));

INSTANTIATE_TEST_SUITE_P(
    AnchorsAndAliases, YamlReadTest,
    testing::Values(
        YamlCase{"a: &x 1\nb: *x\n", "{a:u1,b:u1}"},
        YamlCase{"a: &x [1, 2]\nb: *x\n", "{a:[u1,u2],b:[u1,u2]}"},
        YamlCase{"- &m {k: v}\n- *m\n- *m\n", "[{k:\"v\"},{k:\"v\"},{k:\"v\"}]"},
        YamlCase{"&k a: 1\nb: *k\n", "{a:u1,b:\"a\"}"}, YamlCase{"&k a: 1\n*k : 2\n", "{a:u2}"},
        YamlCase{"a: &s key\n*s : 2\n", "{a:\"key\",key:u2}"},
        YamlCase{"a: &n 1\n*n : 2\n",
                 "Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 1",
                 false},
        YamlCase{"&x a: *x\n", "{a:\"a\"}"},
        YamlCase{"x: &x\n  y: *x\n",
                 "Cannot deserialize cyclic aliases. Alias \"x\". At line: 2 col: 6", false},
        YamlCase{"a: *nope\n", "Undefined alias encountered: \"nope\". At line: 1 col: 4", false},
        YamlCase{"a: &x 1\nb: [&x 2]\n", "Duplicate occurrence of anchor \"x\". At line: 2 col: 5",
                 false},
        YamlCase{"&x a: &x 1\n", "Duplicate occurrence of anchor \"x\". At line: 1 col: 7",
                 false}));

INSTANTIATE_TEST_SUITE_P(
    Failures, YamlReadTest,
    testing::Values(
        YamlCase{"[a]: 1\n", "Unexpected start of sequence. At line: 1 col: 1", false},
        YamlCase{"{a: 1}: 2\n", "Unexpected start of mapping. At line: 1 col: 1", false},
        YamlCase{"x: 1\n!!int 5: 2\n",
                 "Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 1",
                 false},
        YamlCase{"--- 1\n--- 2\n", "Multi-document YAML is not supported.", false},
        YamlCase{"a: [1, 2\n",
                 "YAML parser error: did not find expected ',' or ']'. At line: 1 col: 0", false},
        YamlCase{"a: 'x\n", "YAML parser error: found unexpected end of stream. At line: 1 col: 0",
                 false}));

std::string NestedFlow(std::size_t depth) {
  return std::string(depth, '[') + std::string(depth, ']');
}

TEST(YamlNesting, AcceptsFiveHundredTwelveLevelsAndRefusesMore) {
  EXPECT_TRUE(ReadYaml(NestedFlow(512)).ok);
  const BindingResult deep = ReadYaml(NestedFlow(600));
  EXPECT_EQ(deep.ErrorText(), "Nesting depth exceeds 512. At line: 1 col: 513");
}

TEST(YamlNesting, AliasCopiesCountTheirDepthWhereTheyLand) {
  // A 300-level sequence copied below 300 levels would reach 600.
  const std::string anchored = "a: &x " + NestedFlow(300) + "\n";
  EXPECT_TRUE(ReadYaml(anchored + "b: *x\n").ok);
  const BindingResult deep =
      ReadYaml(anchored + "b: " + std::string(250, '[') + "*x" + std::string(250, ']') + "\n");
  EXPECT_EQ(deep.ErrorText(), "Nesting depth exceeds 512. At line: 2 col: 254");
}

TEST(YamlAliasBudget, RefusesExponentialExpansion) {
  std::string text = "a0: &a0 [x, x, x, x, x, x, x, x, x, x]\n";
  for (int i = 1; i < 10; ++i) {
    const std::string previous = "*a" + std::to_string(i - 1);
    text += "a" + std::to_string(i) + ": &a" + std::to_string(i) + " [";
    for (int j = 0; j < 10; ++j) text += (j ? ", " : "") + previous;
    text += "]\n";
  }
  const BindingResult result = ReadYaml(text);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.ErrorText().substr(0, 60),
            "Alias expansion exceeds the document size limit. At line: 5 ");
  // A modest number of copies stays within the allowance.
  EXPECT_TRUE(ReadYaml("a: &a [1, 2, 3]\nb: [*a, *a, *a, *a]\n").ok);
}

// Aliases count what they expand to: 16 bytes per value and every text byte at every use,
// at most 32 per byte of text plus 1 MiB. A 100,000-byte text may be used 42 times here
// (30,000 uses would be a 3 GB value); the 43rd use is refused.
TEST(YamlAliasBudget, CountsTheTextBytesOfEveryUse) {
  struct Row {
    int uses;
    std::string failure;
  };
  const Row rows[] = {
      {30, ""},
      {100, "Alias expansion exceeds the document size limit. At line: 2 col: 131"},
  };
  for (const Row& row : rows) {
    std::string text = "a: &k " + std::string(100000, 'x') + "\nb: [";
    for (int i = 0; i < row.uses; ++i) text += "*k,";
    text.back() = ']';
    text += "\n";
    const BindingResult result = ReadYaml(text);
    EXPECT_EQ(result.ErrorText(), row.failure) << row.uses;
    if (result.ok) {
      EXPECT_EQ(result.value.Find("b").Size(), 30u);
    }
  }
}

// Reaching an anchor costs a cell per step of its path, so that many short aliases of an
// anchor 400 levels deep are refused where as many of a shallow one are not.
TEST(YamlAliasBudget, CountsTheStepsToTheAnchor) {
  const auto document = [](int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += "{k: ";
    text += "{z: &x 1, y: [";
    for (int i = 0; i < 200; ++i) text += "*x,";
    text.back() = ']';
    return text + "}" + std::string(depth, '}');
  };
  EXPECT_TRUE(ReadYaml(document(3)).ok);
  EXPECT_EQ(ReadYaml(document(400)).ErrorText(),
            "Alias expansion exceeds the document size limit. At line: 1 col: 2140");
}

// A mapping reopened by a repeated key takes new members and finds old ones, in whatever
// key order; aliases read mappings that are still open, also the one they land in.
TEST(YamlRead, ReopenedMappingsMergeAndAliasesReadOpenMappings) {
  std::string text = "a:\n";
  for (int i = 19; i >= 0; --i)
    text += "  k" + std::to_string(i) + ": &a" + std::to_string(i) + " " + std::to_string(i) + "\n";
  text += "  c: *a12\n";
  text += "a: {x: 1, k3: again, n: {q: 1}}\n";
  text += "a: {n: {p: 2}, k19: {}, d: *a5}\n";
  text += "m: &m {p: 1}\nm: {q: *m}\n";
  const BindingResult result = ReadYaml(text);
  ASSERT_TRUE(result.ok) << result.ErrorText();

  BindingProperty expected;
  BindingProperty& a = expected.Member("a");
  for (int i = 0; i < 20; ++i) a.Member("k" + std::to_string(i)).SetUnsigned(i);
  a.Member("c").SetUnsigned(12);
  a.Member("d").SetUnsigned(5);
  a.Member("x").SetUnsigned(1);
  a.Member("k3").SetString("again");
  a.Member("n").Member("q").SetUnsigned(1);
  a.Member("n").Member("p").SetUnsigned(2);
  a.Member("k19").MakeStructure();
  // The alias copies the mapping it lands in, as it stood: its own member still empty.
  BindingProperty& m = expected.Member("m");
  m.Member("p").SetUnsigned(1);
  m.Member("q").Member("p").SetUnsigned(1);
  m.Member("q").Member("q");
  EXPECT_EQ(KindText(result.value), KindText(expected));
}

TEST(YamlRead, NullTextIsAnEmptyStream) {
  const BindingResult result = ReadYaml(std::string_view());
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(KindText(result.value), "null");
}

TEST(YamlFormatTest, RequiresThreeDashesAfterSpaces) {
  EXPECT_TRUE(IsYamlText("---\na: 1"));
  EXPECT_TRUE(IsYamlText("  --- x"));
  EXPECT_FALSE(IsYamlText("a: 1"));
  EXPECT_FALSE(IsYamlText("\n---"));
  EXPECT_FALSE(IsYamlText("--"));
}

}  // namespace
}  // namespace Kavren
