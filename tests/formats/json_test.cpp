// Tests of the JSON reader, writer and format test.
#include "formats/json.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <limits>
#include <string>

#include "formats/value_text_support.h"

namespace Kavren {
namespace {

using Testing::KindText;

struct ReadCase {
  std::string text;
  std::string expected;  // KindText of the value, or the failure message
  bool ok = true;
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.text.substr(0, 60); }

class JsonReadTest : public testing::TestWithParam<ReadCase> {};

TEST_P(JsonReadTest, ReadsValueOrFailure) {
  const ReadCase& c = GetParam();
  const BindingResult result = ReadJson(c.text);
  EXPECT_EQ(result.ok, c.ok);
  if (c.ok) {
    EXPECT_EQ(KindText(result.value), c.expected);
  } else {
    EXPECT_EQ(result.ErrorText(), c.expected);
    EXPECT_EQ(KindText(result.value), "{error:\"" + c.expected + "\"}");
  }
}

INSTANTIATE_TEST_SUITE_P(EmptyDocuments, JsonReadTest,
                         testing::Values(ReadCase{"", "null"}, ReadCase{"   \t\r\n", "null"},
                                         ReadCase{"null", "null"}, ReadCase{"{}", "{}"},
                                         ReadCase{"[]", "[]"}, ReadCase{"[null,1]", "[null,u1]"},
                                         ReadCase{std::string("{}\0[garbage", 11), "{}"},
                                         ReadCase{std::string(" \0x", 3), "null"}));

// Integers: 32-bit classes first, then 64-bit; everything else is a double.
INSTANTIATE_TEST_SUITE_P(
    NumberClasses, JsonReadTest,
    testing::Values(ReadCase{"0", "u0"}, ReadCase{"-0", "s0"}, ReadCase{"-1", "s-1"},
                    ReadCase{"4294967295", "u4294967295"}, ReadCase{"4294967296", "u4294967296"},
                    ReadCase{"-2147483648", "s-2147483648"},
                    ReadCase{"-2147483649", "s-2147483649"},
                    ReadCase{"18446744073709551615", "u18446744073709551615"},
                    ReadCase{"18446744073709551616", "f1.8446744073709552e+19"},
                    ReadCase{"-9223372036854775808", "s-9223372036854775808"},
                    ReadCase{"-9223372036854775809", "f-9.2233720368547758e+18"},
                    ReadCase{"1.0", "f1"}, ReadCase{"-0.0", "f-0"}, ReadCase{"1e2", "f100"},
                    ReadCase{"0.1", "f0.10000000000000001"},
                    ReadCase{"[1e-400,-1e-400]", "[f0,f-0]"},
                    // Correctly rounded where the library's default conversion is not.
                    ReadCase{"2.2250738585072011e-308", "f2.2250738585072009e-308"},
                    ReadCase{"1.7976931348623157e308", "f1.7976931348623157e+308"}));

// Debian's RapidJSON overflows a signed integer on this exponent in its own conversion.
INSTANTIATE_TEST_SUITE_P(
    HugeExponents, JsonReadTest,
    testing::Values(
        ReadCase{"[0.00000000001e-2147483639]", "[f0]"}, ReadCase{"[1e-2147483648]", "[f0]"},
        ReadCase{"[10e308]", "Error: Number too big to be stored in double. at offset 1.", false},
        ReadCase{" 1.8e308", "Error: Number too big to be stored in double. at offset 1.", false},
        ReadCase{"[1,1e400]", "Error: Number too big to be stored in double. at offset 3.", false},
        ReadCase{"[0.001e2147483647]", "Error: Number too big to be stored in double. at offset 1.",
                 false}));

// A repeated key addresses the same member.
INSTANTIATE_TEST_SUITE_P(
    RepeatedKeys, JsonReadTest,
    testing::Values(ReadCase{R"({"a":1,"a":"x"})", R"({a:"x"})"},
                    ReadCase{R"({"a":[1],"a":[2]})", "{a:[u1,u2]}"},
                    ReadCase{R"({"a":{"b":1,"c":1},"a":{"c":2,"d":3}})", "{a:{b:u1,c:u2,d:u3}}"},
                    ReadCase{R"({"a":1,"a":null})", "{a:u1}"},
                    ReadCase{R"({"b":1,"A":2,"a":3})", "{A:u2,a:u3,b:u1}"},
                    // The same key in an inner structure is another member.
                    ReadCase{R"({"a":1,"b":{"a":2},"a":3})", "{a:u3,b:{a:u2}}"},
                    // A scalar between two mappings replaces the first.
                    ReadCase{R"({"a":{"x":{"p":1}},"a":{"x":5,"x":{"q":2}}})", "{a:{x:{q:u2}}}"},
                    ReadCase{R"({"a":{"x":{"p":1}},"a":{"x":{"q":2}}})", "{a:{x:{p:u1,q:u2}}}"},
                    ReadCase{R"({"":1,"z":0,"":2})", "{:u2,z:u0}"},
                    ReadCase{R"({"c":[{"k":1,"k":2}],"c":[{"k":3}]})", "{c:[{k:u2},{k:u3}]}"}));

// Members arrive in any order and are read into key order; a read that stops inside open
// structures leaves nothing behind (the failure value only).
TEST(JsonReadTest, WideObjectsAndStopsInsideOpenStructures) {
  std::string text = "{";
  for (int i = 999; i >= 0; --i) {
    text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + (i > 0 ? "," : "}");
  }
  const BindingResult wide = ReadJson(text);
  ASSERT_TRUE(wide.ok);
  ASSERT_EQ(wide.value.Size(), 1000u);
  std::string previous;
  std::size_t visited = 0;
  wide.value.ForEachMember([&](std::string_view key, const BindingProperty& value) {
    EXPECT_LT(previous, key);
    EXPECT_EQ("k" + std::to_string(value.GetUnsigned()), key);
    previous = std::string(key);
    ++visited;
  });
  EXPECT_EQ(visited, 1000u);
  EXPECT_EQ(wide.value.Find("k500").GetUnsigned(), 500u);

  const BindingResult stopped = ReadJson(R"({"b":1,"a":{"c":[{"d":2,"d":)");
  EXPECT_FALSE(stopped.ok);
  EXPECT_EQ(stopped.ErrorText(), "Error: Invalid value. at offset 28.");
}

// An object reopened by a repeated key takes new members and finds old ones, in whatever
// key order, also when it is reopened inside one that is reopened.
TEST(JsonReadTest, ReopenedObjectsMergeWhateverTheirKeyOrder) {
  std::string text = R"({"a":{)";
  for (int i = 19; i >= 0; --i) text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  text.back() = '}';
  text += R"(,"a":{"x":1,"k3":"again","n":{"q":1}},"a":{"n":{"p":2},"k19":{}},"b":0})";
  const BindingResult result = ReadJson(text);
  ASSERT_TRUE(result.ok) << result.ErrorText();
  EXPECT_EQ(KindText(result.value), KindText(Testing::ReopenedObjectsMerged(false)));
}

// An escaped NUL ends a string or a key.
INSTANTIATE_TEST_SUITE_P(Strings, JsonReadTest,
                         testing::Values(ReadCase{R"({"a":"x\u0000y"})", R"({a:"x"})"},
                                         ReadCase{R"({"k\u0000ey":true})", "{k:true}"},
                                         ReadCase{R"(["\u00e9\ud83d\ude00\n\"\\\/"])",
                                                  "[\"\xC3\xA9\xF0\x9F\x98\x80\n\"\\/\"]"},
                                         ReadCase{"[\"\xFF\xFE\"]", "[\"\xFF\xFE\"]"}));

// Records after a first one of the same keys: a key cut at its NUL is the key it is cut to, a
// repeated key is one member, and fewer, more, or reordered keys give the same members.
INSTANTIATE_TEST_SUITE_P(
    Records, JsonReadTest,
    testing::Values(
        ReadCase{R"([{"b":1,"a":2},{"b":3,"a\u0000z":4},{"b\u0000":5,"a":6,"a":7}])",
                 "[{a:u2,b:u1},{a:u4,b:u3},{a:u7,b:u5}]"},
        ReadCase{R"([{"b":1,"a":2},{"b":3},{"b":4,"a":5,"c":6},{"a":7,"b":8},{"b":{"b":9,"a":0}}])",
                 "[{a:u2,b:u1},{b:u3},{a:u5,b:u4,c:u6},{a:u7,b:u8},{b:{a:u0,b:u9}}]"}));

INSTANTIATE_TEST_SUITE_P(
    Failures, JsonReadTest,
    testing::Values(
        ReadCase{"x", "Error: Invalid value. at offset 0.", false},
        ReadCase{"[1] [2]",
                 "Error: The document root must not be followed by other values. at offset 4.",
                 false},
        ReadCase{R"({"a" 1})", "Error: Missing a colon after a name of object member. at offset 5.",
                 false},
        ReadCase{R"(["abc)", "Error: Missing a closing quotation mark in string. at offset 5.",
                 false},
        ReadCase{"[1.]", "Error: Miss fraction part in number. at offset 3.", false},
        ReadCase{R"(["\x"])", "Error: Invalid escape character in string. at offset 2.", false},
        ReadCase{"[1,]", "Error: Invalid value. at offset 3.", false}));

std::string Nested(std::size_t depth, char open, char close) {
  return std::string(depth, open) + std::string(depth, close);
}

TEST(JsonReadNesting, AcceptsFiveHundredTwelveLevels) {
  const BindingResult arrays = ReadJson(Nested(512, '[', ']'));
  ASSERT_TRUE(arrays.ok) << arrays.ErrorText();
  std::string objects;
  for (int i = 0; i < 512; ++i) objects += "{\"a\":";
  objects += "1" + std::string(512, '}');
  EXPECT_TRUE(ReadJson(objects).ok);
}

TEST(JsonReadNesting, RefusesDeeperInputAtTheContainerThatIsTooDeep) {
  const BindingResult arrays = ReadJson(Nested(100000, '[', ']'));
  EXPECT_FALSE(arrays.ok);
  EXPECT_EQ(arrays.ErrorText(), "Error: Nesting depth exceeds 512. at offset 512.");
  std::string mixed = "  ";
  for (int i = 0; i < 300; ++i) mixed += "{\"k\":[";
  const BindingResult objects = ReadJson(mixed);
  // Level 513 is the object opened by the 257th prefix: 2 + 256 * 6.
  EXPECT_EQ(objects.ErrorText(), "Error: Nesting depth exceeds 512. at offset 1538.");
}

TEST(JsonRead, CStringAndStringVariantsAgree) {
  EXPECT_EQ(KindText(ReadJson("{\"a\":[1,-2,0.5]}").value),
            KindText(ReadJson(std::string("{\"a\":[1,-2,0.5]}")).value));
  EXPECT_TRUE(ReadJson(static_cast<const char*>(nullptr)).ok);
}

TEST(JsonFormatTest, AcceptsOnlyContainersAfterSpaces) {
  EXPECT_TRUE(IsJsonText("{}"));
  EXPECT_TRUE(IsJsonText("   [1]"));
  EXPECT_FALSE(IsJsonText("\t{}"));
  EXPECT_FALSE(IsJsonText("\"text\""));
  EXPECT_FALSE(IsJsonText("   "));
  EXPECT_FALSE(IsJsonText(""));
}

// ---- Writing ----

TEST(JsonWrite, EmptyRootIsEmptyTextButEmptyMembersAreNull) {
  BindingProperty value;
  EXPECT_EQ(WriteJson(value), "");
  EXPECT_EQ(WriteJson(value, nullptr, "\n"), "");
  value.Member("x");
  value.Member("y").Append();
  EXPECT_EQ(WriteJson(value), R"({"x":null,"y":[null]})");
}

TEST(JsonWrite, CompactAndPrettyLayouts) {
  BindingProperty value;
  value.Member("b").SetSigned(1);
  value.Member("a").SetBool(true);
  BindingProperty& list = value.Member("c");
  list.Append().SetUnsigned(2);
  list.Append().MakeStructure();
  list.Append().MakeCollection();
  EXPECT_EQ(WriteJson(value), R"({"a":true,"b":1,"c":[2,{},[]]})");
  EXPECT_EQ(WriteJson(value, nullptr, ""), R"({"a":true,"b":1,"c":[2,{},[]]})");
  const std::string pretty =
      "{\n    \"a\": true,\n    \"b\": 1,\n    \"c\": [\n        2,\n        {},\n        []\n"
      "    ]\n}";
  EXPECT_EQ(WriteJson(value, nullptr, "\n"), pretty);
  std::string crlf;
  for (char c : pretty) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(WriteJson(value, nullptr, "\r\n"), crlf);
  EXPECT_EQ(WriteJson(value, nullptr, "<br>").substr(0, 18), "{<br>    \"a\": true");
}

TEST(JsonWrite, Numbers) {
  const std::pair<double, const char*> floats[] = {
      {1.0, "1.0"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {0.5, "0.5"},
      {1e30, "1e30"},
      {1.234e33, "1.234e33"},
      {0.1, "0.1"},
      {-2.5e-7, "-2.5e-7"},
      {std::numeric_limits<double>::quiet_NaN(), "null"},
      {std::numeric_limits<double>::infinity(), "null"},
      {-std::numeric_limits<double>::infinity(), "null"}};
  for (const auto& [number, text] : floats) {
    BindingProperty value;
    value.SetFloat(number);
    EXPECT_EQ(WriteJson(value), text) << number;
  }
  BindingProperty list;
  list.Append().SetFloat(std::nan(""));
  list.Append().SetSigned(std::numeric_limits<std::int64_t>::min());
  list.Append().SetUnsigned(std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(WriteJson(list), "[null,-9223372036854775808,18446744073709551615]");
}

TEST(JsonWrite, StringEscapesAndBlobs) {
  BindingProperty value;
  value.SetString(std::string_view("\"\\\b\t\n\f\r\x01\x1f/\xC3\xA9\x7f", 13));
  EXPECT_EQ(WriteJson(value), "\"\\\"\\\\\\b\\t\\n\\f\\r\\u0001\\u001F/\xC3\xA9\x7f\"");
  const std::pair<std::string, const char*> blobs[] = {{"", "\"\""},
                                                       {"A", "\"QQ==\""},
                                                       {"AB", "\"QUI=\""},
                                                       {"ABC", "\"QUJD\""},
                                                       {"\xFB\xFF", "\"+/8=\""}};
  for (const auto& [bytes, text] : blobs) {
    BindingProperty blob;
    blob.SetBlob(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    EXPECT_EQ(WriteJson(blob), text);
  }
}

// Texts are scanned a word at a time for characters to escape: a character that needs one,
// and its neighbours that do not, at every place of a word and of the tail, as a value and
// as a key, written as RapidJSON's own writer writes them.
TEST(JsonWrite, EscapesWhereverTheCharacterFallsInTheText) {
  for (const char special :
       {'"', '\\', '\x01', '\x1f', '\n', ' ', '!', '#', '[', ']', '\x7f', '\xc3'}) {
    for (std::size_t at = 0; at < 19; ++at) {
      std::string text(19, 'a');
      text[at] = special;
      rapidjson::StringBuffer expected;
      rapidjson::Writer<rapidjson::StringBuffer> writer(expected);
      writer.StartObject();
      writer.Key(text.data(), static_cast<rapidjson::SizeType>(text.size()));
      writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
      writer.EndObject();
      BindingProperty value;
      value.Member(text).SetString(text);
      EXPECT_EQ(WriteJson(value), expected.GetString()) << int(special) << " at " << at;
    }
  }
}

TEST(JsonWrite, EnumWithoutRegistryIsItsNumber) {
  BindingProperty value;
  value.SetEnum(-3, nullptr);
  EXPECT_EQ(WriteJson(value), "-3");
}

TEST(JsonRoundTrip, ReadWriteReadGivesTheSameValue) {
  const char* texts[] = {R"({"a":[1,-2,3.5,"x",true,false,null,{}],"b":{"c":[[]]},"":"e"})",
                         R"([18446744073709551615,-9223372036854775808,1e300,5e-324,-0.0])",
                         R"("\u0001\u001f\"")"};
  for (const char* text : texts) {
    const BindingResult first = ReadJson(text);
    ASSERT_TRUE(first.ok) << text;
    const std::string written = WriteJson(first.value);
    const BindingResult second = ReadJson(written);
    ASSERT_TRUE(second.ok) << written;
    EXPECT_EQ(KindText(second.value), KindText(first.value)) << written;
    EXPECT_EQ(WriteJson(second.value, nullptr, "\n"), WriteJson(first.value, nullptr, "\n"));
  }
}

}  // namespace
}  // namespace Kavren
