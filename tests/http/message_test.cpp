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

TEST(ReasonPhrase, TableHasFortySixCodesAndEveryOtherCodeIsEmpty) {
  const std::map<std::int32_t, std::string> table = {
      {100, "Continue"},
      {101, "Switching Protocols"},
      {102, "Processing"},
      {200, "OK"},
      {201, "Created"},
      {202, "Accepted"},
      {203, "Non-Authoritative Information"},
      {204, "No Content"},
      {205, "Reset Content"},
      {206, "Partial Content"},
      {207, "Multi-Status"},
      {300, "Multiple Choices"},
      {301, "Moved Permanently"},
      {302, "Found"},
      {303, "See Other"},
      {304, "Not Modified"},
      {305, "Use Proxy"},
      {307, "Temporary Redirect"},
      {400, "Bad Request"},
      {401, "Unauthorized"},
      {402, "Payment Required"},
      {403, "Forbidden"},
      {404, "Not Found"},
      {405, "Method Not Allowed"},
      {406, "Not Acceptable"},
      {407, "Proxy Authentication Required"},
      {408, "Request Timeout"},
      {409, "Conflict"},
      {410, "Gone"},
      {411, "Length Required"},
      {412, "Precondition Failed"},
      {413, "Request Entity Too Large"},
      {414, "Request-URI Too Long"},
      {415, "Unsupported Media Type"},
      {416, "Requested Range Not Satisfiable"},
      {417, "Expectation Failed"},
      {422, "Unprocessable Entity"},
      {423, "Locked"},
      {424, "Failed Dependency"},
      {500, "Internal Server Error"},
      {501, "Not Implemented"},
      {502, "Bad Gateway"},
      {503, "Service Unavailable"},
      {504, "Gateway Timeout"},
      {505, "HTTP Version Not Supported"},
      {507, "Insufficient Storage"},
  };
  ASSERT_EQ(table.size(), 46u);
  for (std::int32_t status = -1; status < 1000; ++status) {
    const auto found = table.find(status);
    EXPECT_EQ(ReasonPhrase(status), found != table.end() ? found->second : std::string()) << status;
  }
  EXPECT_STREQ(ReasonPhrase(0x7FFFFFFF), "");
}

}  // namespace
}  // namespace Kavren
