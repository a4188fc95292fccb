// The fuzz targets' own machinery: the meter sees what the entry points allocate, the
// round-trip comparison accepts exactly what JSON changes, the shapes generate what they
// name, and the request encoding reaches the endpoints.
#include "fuzz_check.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "adversarial_inputs.h"
#include "formats/json.h"
#include "formats/msgpack.h"
#include "formats/yaml.h"
#include "request_fixture.h"

namespace Kavren::Fuzz {

// The replay main is not linked here; the tests never call the check.
void CheckInput(const std::uint8_t*, std::size_t) {}

namespace {

TEST(HeldBytesMeterTest, SeesOperatorNewAndRefusesAboveItsLimit) {
  {
    HeldBytesMeter meter(1 << 20, "test");
    auto block = std::make_unique<char[]>(10000);
    EXPECT_GE(meter.Peak(), 10000u);
  }
  HeldBytesMeter meter(1000, "test", HeldBytesMeter::Above::kRefuse);
  EXPECT_THROW(static_cast<void>(std::make_unique<char[]>(10000)), std::bad_alloc);
  EXPECT_TRUE(meter.Refused());
}

TEST(HeldBytesMeterTest, FailsTheRunAboveItsLimit) {
  EXPECT_DEATH(
      {
        HeldBytesMeter meter(1000, "the test's work");
        static_cast<void>(std::make_unique<char[]>(10000));
      },
      "fuzz check failed: the test's work holds [0-9]+ bytes, above its bound of 1000 bytes");
}

BindingProperty Json(const char* text) { return ReadJson(text).value; }

TEST(ReadsBackEqualTest, AcceptsWhatJsonChangesAndNothingElse) {
  BindingProperty signedFive;
  signedFive.SetSigned(5);
  BindingProperty blob;
  blob.SetBlobCopy(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>("ABC"), 3));
  BindingProperty notANumber;
  notANumber.SetFloat(std::numeric_limits<double>::quiet_NaN());
  BindingProperty withNul;
  withNul.SetString(std::string_view("x\0y", 3));
  BindingProperty nulKey;
  nulKey.Member(std::string_view("a\0b", 3)).SetSigned(1);

  struct Row {
    const BindingProperty& original;
    const char* reread;
    bool equal;
    bool comparable;
  };
  const Row rows[] = {
      {signedFive, "5", true, true},          {signedFive, "6", false, true},
      {blob, "\"QUJD\"", true, true},         {blob, "\"ABC\"", false, true},
      {notANumber, "", true, true},           {withNul, "\"x\"", true, true},
      {withNul, "\"x\\u0000y\"", true, true}, {nulKey, "{\"a\":1}", true, false},
  };
  for (const Row& row : rows) {
    bool comparable = true;
    EXPECT_EQ(ReadsBackEqual(row.original, Json(row.reread), comparable), row.equal) << row.reread;
    EXPECT_EQ(comparable, row.comparable) << row.reread;
  }
  bool comparable = true;
  EXPECT_TRUE(ReadsBackEqual(Json("{\"a\":[1,-2,1.5,null,true]}"),
                             Json("{\"a\":[1,-2,1.5,null,true]}"), comparable));
  EXPECT_FALSE(ReadsBackEqual(Json("{\"a\":[1]}"), Json("{\"b\":[1]}"), comparable));
  EXPECT_FALSE(ReadsBackEqual(Json("[1,2]"), Json("[1]"), comparable));
}

TEST(JsonTextLowerBoundTest, ExactWithoutEscapesAndLongNumbers) {
  for (const char* text : {"[]", "{\"key\":[1,\"text\",null,true,false,{},[]]}"}) {
    EXPECT_EQ(JsonTextLowerBound(Json(text)), std::string_view(text).size()) << text;
  }
  for (const char* text : {"\"a\\u0001\"", "[[[[1.5e300]]]]", "{\"a\":12345}"}) {
    EXPECT_LT(JsonTextLowerBound(Json(text)), std::string_view(text).size()) << text;
  }
}

TEST(AdversarialShapesTest, GenerateTheShapesTheyName) {
  EXPECT_FALSE(ExpandShapeText("no-such-shape 3"));
  EXPECT_FALSE(ExpandShapeText("json-reopened x"));
  EXPECT_EQ(*ExpandShapeText("json-repeated-key 3"),
            R"({"k0":0,"k1":0,"k2":0,"k2":0,"k2":0,"k2":0})");
  EXPECT_EQ(*ExpandShapeText("json-reopened 2"), R"({"a":{"k0":0,"k1":0},"a":{},"a":{}})");
  EXPECT_EQ(*ExpandShapeText("yaml-descending 2"), "k0000001: 1\nk0000000: 1\n");
  EXPECT_EQ(*ExpandShapeText("request-dotted-key 2"), "GET /fuzz?p.65535.65535=x\n");

  // The MessagePack forms read as their JSON twins.
  const std::string map = *ExpandShapeText("msgpack-reopened 2");
  std::size_t consumed = 0;
  EXPECT_EQ(WriteJson(ReadMessagePack(map.data(), map.size(), consumed).value),
            R"({"a":{"k0":0,"k1":0}})");
  EXPECT_EQ(consumed, map.size());
  const std::string alias = *ExpandShapeText("yaml-alias-expansion 2");
  const BindingResult aliases = ReadYaml(alias);
  ASSERT_TRUE(aliases.ok) << aliases.ErrorText();
  EXPECT_EQ(aliases.value.Find("b").Size(), 2u);
  EXPECT_EQ(aliases.value.Find("b").At(1).GetString().size(), 100u * 1024);
}

TEST(RequestFixtureTest, RoutesTheEncodedRequest) {
  RequestFixture& fixture = RequestFixture::Instance();
  struct Row {
    std::string encoded;
    bool failed;
    std::int32_t status;
    const char* errorText;
  };
  const Row rows[] = {
      {EncodeRequest("GET", "/hxa-player-messaging/v1/notification", {}, std::nullopt), false, 0,
       ""},
      {EncodeRequest("DELETE", "/hxa-player-messaging/v1/notification/5/acknowledge", {},
                     std::nullopt),
       true, 404, "Not found"},
      {EncodeRequest("GET", "/nowhere", {}, std::nullopt), true, 404, "Invalid function"},
      {EncodeRequest("GET", "/fuzz?zz=1", {}, std::nullopt), true, 0,
       "Unknown argument 'zz' for 'GetFuzzByTail'."},
      {EncodeRequest("POST", "/fuzz?i32=7", {"Content-Type: application/json"}, "{\"a\":1}"), true,
       0, "A value for 'i8' is required."},
      {EncodeRequest("POST", "/fuzz/x", {"Content-Type: text/plain"}, "x"), true, 0,
       "Unsupported body content type"},
      {EncodeRequest(
           "GET",
           "/fuzz?b=&i8=5&i16=0x10&i32=-1&i64=-9&u8=255&u16=010&u64=1&f=1.5&d=-0&s=abc&v.0=1&"
           "vb.1=true&vs.0=x&p.a.0=x&st.simpleMessages.0.msgId=m&m.k=3&e=Running&"
           "blob=QUJD&o=4",
           {"u32: 7", "Content-Type: application/x-msgpack"}, "\x81\xa1\x61\x01"),
       false, 0, ""},
  };
  for (const Row& row : rows) {
    const FuzzReply reply = fixture.Send(row.encoded);
    EXPECT_EQ(reply.failed, row.failed) << row.encoded;
    EXPECT_EQ(reply.status, row.status) << row.encoded;
    EXPECT_EQ(reply.errorText, row.errorText) << row.encoded;
  }
}

}  // namespace
}  // namespace Kavren::Fuzz
