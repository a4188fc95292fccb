// The request context handlers see, built from the host's request record.
#include "http/request_context.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/value.h"

namespace Kavren {
namespace {

TEST(MakeRequest, CopiesTheRecordsFieldsAndKeepsTheCustomMethodForCodeEight) {
  const Abi::HttpHeaderEntry headers[] = {{"velkin-id", "7"},
                                          {"accept", "a"},
                                          {"accept", "b"},
                                          {nullptr, "dropped"},
                                          {"empty", nullptr}};
  Abi::HttpRequestRecord record{};
  record.method = Abi::kHttpMethodCustom;
  record.customMethod = "PURGE";
  record.path = "/hxa-player-messaging/v1/notification?x=1";
  record.headers = headers;
  record.headerCount = 5;
  record.context = 0x1234;
  const std::vector<BindingProperty> bound(2);
  const std::vector<BindingProperty>* arguments = &bound;

  const HttpBaseTransport::Request request = HttpBaseTransport::MakeRequest(record, arguments);

  EXPECT_EQ(request.context, 0x1234u);
  EXPECT_EQ(request.method, HttpMethod::Custom);
  EXPECT_EQ(request.customMethod, "PURGE");
  EXPECT_EQ(request.path, "/hxa-player-messaging/v1/notification?x=1");
  const HttpHeaderMap expected = {{"velkin-id", "7"}, {"accept", "b"}, {"empty", ""}};
  EXPECT_EQ(request.headers, expected);
  EXPECT_EQ(request.arguments, arguments);
  // 2020-01-01 in 100-nanosecond ticks since 1601.
  EXPECT_GT(request.time, 132223104000000000ULL);
}

TEST(MakeRequest, UnknownMethodBecomesNoneAndNullTextsReadEmpty) {
  Abi::HttpRequestRecord record{};
  record.method = 42;
  record.customMethod = "IGNORED";

  const RemotingRequest request(HttpBaseTransport::MakeRequest(record, nullptr));

  EXPECT_EQ(request.method, HttpMethod::None);
  EXPECT_EQ(request.customMethod, "");
  EXPECT_EQ(request.path, "");
  EXPECT_TRUE(request.headers.empty());
  const HttpBaseTransport::Request& asBase = request;  // one context serves both types
  EXPECT_EQ(asBase.arguments, nullptr);
}

}  // namespace
}  // namespace Kavren
