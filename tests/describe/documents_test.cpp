// The development server's documents of the built plugin, read by a strict parser: no
// object repeats a key, every operation with arguments documents 400, and replies require
// what the plugin always writes.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/pointer.h>
#include <rapidjson/reader.h>

#include <set>
#include <string>
#include <vector>

#include "host/core/development_host.h"
#include "host/describe/asyncapi.h"
#include "host/describe/openapi.h"
#include "host/server/host_controls_api.h"
#include "support/built_plugin.h"

namespace Kavren::Host {
namespace {

// Reads JSON and stops at the first key an object repeats.
struct StrictKeys : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, StrictKeys> {
  std::vector<std::set<std::string>> objects;
  std::string repeated;

  bool StartObject() {
    objects.emplace_back();
    return true;
  }
  bool Key(const char* text, rapidjson::SizeType length, bool) {
    if (objects.back().insert(std::string(text, length)).second) return true;
    repeated = std::string(text, length);
    return false;
  }
  bool EndObject(rapidjson::SizeType) {
    objects.pop_back();
    return true;
  }
};

// "" when `json` parses with no repeated key, else the repeated key or the parse error.
std::string RepeatedKey(const std::string& json) {
  StrictKeys handler;
  rapidjson::Reader reader;
  rapidjson::StringStream stream(json.c_str());
  if (reader.Parse(stream, handler).IsError()) {
    return handler.repeated.empty() ? "parse error" : handler.repeated;
  }
  return "";
}

class DocumentsTest : public Testing::BuiltPluginTest {
 protected:
  void SetUp() override { ASSERT_TRUE(Load(host_)); }
  void TearDown() override { host_.Stop(); }

  DevelopmentHost host_;
};

TEST_F(DocumentsTest, NoObjectRepeatsAKey) {
  ASSERT_EQ(RepeatedKey(R"({"a":{"b":1,"c":{"b":2},"b":3}})"), "b");
  EXPECT_EQ(RepeatedKey(OpenApiDocument(host_.Record())), "");
  EXPECT_EQ(RepeatedKey(DevelopmentServerOpenApi(host_.Record())), "");
  EXPECT_EQ(RepeatedKey(AsyncApiDocument(host_.Record())), "");
}

TEST_F(DocumentsTest, ArgumentsDocument400AndRepliesRequireWhatIsAlwaysWritten) {
  rapidjson::Document document;
  document.Parse(DevelopmentServerOpenApi(host_.Record()).c_str());
  ASSERT_FALSE(document.HasParseError());
  std::size_t withArguments = 0;
  for (const auto& item : document["paths"].GetObject()) {
    // The event stream's name filter takes any text.
    if (std::string(item.name.GetString()) == "/events") continue;
    for (const auto& operation : item.value.GetObject()) {
      const bool arguments =
          operation.value.HasMember("parameters") || operation.value.HasMember("requestBody");
      if (!arguments) continue;
      ++withArguments;
      EXPECT_TRUE(operation.value["responses"].HasMember("400"))
          << operation.name.GetString() << " " << item.name.GetString();
    }
  }
  // The two acknowledges, and the four host controls that take a body.
  EXPECT_EQ(withArguments, 6u);

  const rapidjson::Value* required =
      rapidjson::Pointer("/components/schemas/PlayerMessagingNotificationResource/required")
          .Get(document);
  ASSERT_NE(required, nullptr);
  std::vector<std::string> names;
  for (const auto& name : required->GetArray()) names.emplace_back(name.GetString());
  EXPECT_EQ(names, (std::vector<std::string>{"id", "msgId", "title", "body", "status"}));
  // The host controls are tagged as the server's own.
  EXPECT_STREQ(
      rapidjson::Pointer("/paths/~1_host~1server-messages/post/tags/0").Get(document)->GetString(),
      "Development host");
}

}  // namespace
}  // namespace Kavren::Host
