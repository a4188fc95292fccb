// Host values the host builds from JSON, frees, and prints back as JSON; and the
// JSON and YAML documents the host reads.
#include "host/core/host_value.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "host/core/document.h"
#include "support/host_outcome.h"

namespace Kavren::Host {
namespace {

TEST(HostValueTest, JsonRoundTripsThroughAHostValue) {
  const char* texts[] = {
      "null",
      "true",
      "-9223372036854775808",
      "18446744073709551615",
      "2.5",
      R"("t\u00e9xt")",
      "[]",
      "{}",
      R"({"a":[1,{"b":null}],"":"empty key","c":false})",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    rapidjson::Document document;
    ASSERT_TRUE(Succeeded(ParseJsonText(text, document)));
    Abi::HostValue value{};
    ASSERT_TRUE(Succeeded(HostValueFromJson(document, value)));
    const std::string json = HostValueToJson(value);
    rapidjson::Document again;
    ASSERT_TRUE(Succeeded(ParseJsonText(json, again))) << json;
    EXPECT_TRUE(again == document) << json;
    FreeHostValue(value);
    EXPECT_EQ(value.type, 0u);
    EXPECT_EQ(value.data, 0u);
  }
}

TEST(HostValueTest, WideNumbersTravelAsLowAndHighWords) {
  rapidjson::Document document;
  ASSERT_TRUE(Succeeded(ParseJsonText("[-2, 4294967297]", document)));
  Abi::HostValue value{};
  ASSERT_TRUE(Succeeded(HostValueFromJson(document, value)));
  Abi::HostValue elements[2];
  std::memcpy(elements, reinterpret_cast<const void*>(value.data), sizeof elements);
  EXPECT_EQ(elements[0].type, Abi::kHostValueSigned);
  EXPECT_EQ(elements[0].data, 0xFFFFFFFEu);
  EXPECT_EQ(elements[0].extra, 0xFFFFFFFFu);
  EXPECT_EQ(elements[1].data, 1u);
  EXPECT_EQ(elements[1].extra, 1u);
  FreeHostValue(value);
}

TEST(HostValueTest, ValuesOnlyThePluginBuildsArePrintedSafely) {
  const char bytes[] = {'\x00', '\xFF', 'a', 'b'};
  const double infinity = std::numeric_limits<double>::infinity();
  std::uint64_t bits = 0;
  std::memcpy(&bits, &infinity, sizeof bits);
  struct Case {
    Abi::HostValue value;
    const char* json;
  };
  const Case cases[] = {
      {{Abi::kHostValueBorrowedString, reinterpret_cast<Abi::HostWord>("borrowed"), 0},
       R"("borrowed")"},
      {{Abi::kHostValueOwnedString, 0, 0}, R"("")"},
      {{Abi::kHostValueBorrowedBlob, reinterpret_cast<Abi::HostWord>(bytes), 4}, R"("AP9hYg==")"},
      {{Abi::kHostValueOwnedBlob, reinterpret_cast<Abi::HostWord>(bytes), 2}, R"("AP8=")"},
      {{Abi::kHostValueFloat, static_cast<Abi::HostWord>(bits & 0xFFFFFFFFu),
        static_cast<Abi::HostWord>(bits >> 32)},
       "null"},
      {{Abi::kHostValueBool, 0x100, 0}, "false"},
      {{11, 0, 0}, R"("<invalid host value>")"},
      {{Abi::kHostValueCollection, 0, 5}, "[]"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.json);
    EXPECT_EQ(HostValueToJson(row.value), row.json);
  }
}

std::string Nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

TEST(HostValueTest, NestingIsBoundedBothWays) {
  rapidjson::Document document;
  ASSERT_TRUE(Succeeded(ParseJsonText(Nested(512), document)));
  Abi::HostValue value{};
  ASSERT_TRUE(Succeeded(HostValueFromJson(document, value)));
  EXPECT_EQ(HostValueToJson(value), Nested(512));
  FreeHostValue(value);

  ASSERT_TRUE(Succeeded(ParseJsonText(Nested(100000), document)));
  const MaybeType<Failure> tooDeep = HostValueFromJson(document, value);
  EXPECT_EQ(tooDeep.GetFailure().message, "The value is nested deeper than 512 levels");
  EXPECT_EQ(value.type, 0u);

  // A deeper tree built elsewhere prints a marker where it goes too deep.
  std::vector<Abi::HostValue> chain(600);
  for (std::size_t index = 0; index + 1 < chain.size(); ++index) {
    chain[index] = {Abi::kHostValueCollection, reinterpret_cast<Abi::HostWord>(&chain[index + 1]),
                    1};
  }
  const std::string json = HostValueToJson(chain[0]);
  EXPECT_EQ(json, std::string(512, '[') + "\"<invalid host value>\"" + std::string(512, ']'));
}

TEST(DocumentTest, YamlScalarsTakeTheirPlainForms) {
  const char yaml[] =
      "a: 1\n"
      "b: -7\n"
      "c: 2.5\n"
      "d: true\n"
      "e: ~\n"
      "f: '12'\n"
      "g: text, with spaces\n"
      "h: [x, \"1\", 18446744073709551615]\n"
      "i:\n"
      "j: {k: FALSE}\n"
      "12: numeric key\n";
  rapidjson::Document document;
  ASSERT_TRUE(Succeeded(ParseYamlText(yaml, document)));
  rapidjson::Document expected;
  ASSERT_TRUE(Succeeded(ParseJsonText(
      R"({"a":1,"b":-7,"c":2.5,"d":true,"e":null,"f":"12","g":"text, with spaces",)"
      R"("h":["x","1",18446744073709551615],"i":null,"j":{"k":false},"12":"numeric key"})",
      expected)));
  EXPECT_TRUE(document == expected);
}

TEST(DocumentTest, UnreadableInputIsReportedWithItsPosition) {
  struct Case {
    bool yaml;
    std::string text;
    const char* error;
  };
  const Case cases[] = {
      {false, "{\"a\":}", "JSON error at offset 5: Invalid value."},
      {true, "a: [1, 2", "YAML error at line 2, column 1: did not find expected ',' or ']'"},
      {true, "a: &x 1\nb: *x\n", "YAML error at line 2, column 4: aliases are not supported"},
      {true, std::string(600, '['),
       "YAML error at line 1, column 513: nested deeper than 512 levels"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.text);
    rapidjson::Document document;
    const MaybeType<Failure> parsed =
        row.yaml ? ParseYamlText(row.text, document) : ParseJsonText(row.text, document);
    EXPECT_TRUE(parsed.Failed());
    EXPECT_EQ(parsed.GetFailure().message, row.error);
  }
  rapidjson::Document document;
  const MaybeType<Failure> loaded = LoadDocumentFile("/nonexistent/scenario.yaml", document);
  EXPECT_TRUE(loaded.Failed());
  EXPECT_EQ(loaded.GetFailure().message, "cannot read /nonexistent/scenario.yaml");
}

}  // namespace
}  // namespace Kavren::Host
