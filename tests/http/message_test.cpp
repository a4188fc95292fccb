// Method texts, content-type selection and the reason-phrase table.
#include "http/message.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>

namespace Kavren {
namespace {

TEST(BodyFormatFromContentType, PrefixesIgnoreCaseAndParameters) {
  struct Row {
    const char* contentType;
    BodyFormat expected;
  };
  const Row rows[] = {
      {"application/json", BodyFormat::Json},
      {"Application/JSON; charset=utf-8", BodyFormat::Json},
      {"application/vnd.api+json", BodyFormat::Json},
      {"application/x-yaml", BodyFormat::Yaml},
      {"APPLICATION/X-YAML;charset=UTF-8", BodyFormat::Yaml},
      {"application/x-msgpack", BodyFormat::MessagePack},
      {"application/x-msgpack-ext", BodyFormat::MessagePack},
      {"text/json", BodyFormat::None},
      {"text/x-yaml", BodyFormat::None},  // argument texts only
      {"application/octet-stream", BodyFormat::None},
      {"application/jso", BodyFormat::None},  // a prefix cut short
      {" application/json", BodyFormat::None},
      {"", BodyFormat::None},
      {nullptr, BodyFormat::None},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(BodyFormatFromContentType(row.contentType), row.expected)
        << (row.contentType ? row.contentType : "(null)");
  }
}

TEST(MethodText, CodesOneToSevenHaveTextsOthersAreEmpty) {
  const std::map<std::int32_t, std::string> expected = {
      {-1, ""},     {0, ""},     {1, "DELETE"}, {2, "GET"}, {3, "HEAD"}, {4, "OPTIONS"},
      {5, "PATCH"}, {6, "POST"}, {7, "PUT"},    {8, ""},    {9, ""},     {1000, ""}};
  for (const auto& [code, text] : expected) {
    EXPECT_EQ(MethodText(code), text) << code;
  }
  EXPECT_STREQ(MethodText(HttpMethod::Custom), "");
  EXPECT_STREQ(MethodText(HttpMethod::Post), "POST");
}

// The status lines a client reads, one for every code in -1..999 whose phrase is not
// empty: the listing shows a wrong, missing or extra phrase at its code, and the count
// that only the classic codes of each class have one.
TEST(ReasonPhrase, StatusLinesOfTheClassicCodesAndNoOthers) {
  std::string lines;
  int count = 0;
  for (std::int32_t status = -1; status < 1000; ++status) {
    const std::string phrase = ReasonPhrase(status);
    if (phrase.empty()) continue;
    lines += std::to_string(status) + " " + phrase + "\n";
    ++count;
  }
  EXPECT_EQ(count, 46);
  EXPECT_EQ(lines,
            "100 Continue\n101 Switching Protocols\n102 Processing\n"
            "200 OK\n201 Created\n202 Accepted\n203 Non-Authoritative Information\n"
            "204 No Content\n205 Reset Content\n206 Partial Content\n207 Multi-Status\n"
            "300 Multiple Choices\n301 Moved Permanently\n302 Found\n303 See Other\n"
            "304 Not Modified\n305 Use Proxy\n307 Temporary Redirect\n"
            "400 Bad Request\n401 Unauthorized\n402 Payment Required\n403 Forbidden\n"
            "404 Not Found\n405 Method Not Allowed\n406 Not Acceptable\n"
            "407 Proxy Authentication Required\n408 Request Timeout\n409 Conflict\n"
            "410 Gone\n411 Length Required\n412 Precondition Failed\n"
            "413 Request Entity Too Large\n414 Request-URI Too Long\n"
            "415 Unsupported Media Type\n416 Requested Range Not Satisfiable\n"
            "417 Expectation Failed\n422 Unprocessable Entity\n423 Locked\n"
            "424 Failed Dependency\n"
            "500 Internal Server Error\n501 Not Implemented\n502 Bad Gateway\n"
            "503 Service Unavailable\n504 Gateway Timeout\n505 HTTP Version Not Supported\n"
            "507 Insufficient Storage\n");
  EXPECT_STREQ(ReasonPhrase(0x7FFFFFFF), "");
  EXPECT_STREQ(ReasonPhrase(-0x7FFFFFFF - 1), "");
}

}  // namespace
}  // namespace Kavren
