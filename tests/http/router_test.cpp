// The request entry driven through host records: matching, binding, invoking, responses.
#include "http/router.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "abi/api_block.h"
#include "abi/plugin.h"
#include "binding/convert.h"
#include "binding/host_value.h"
#include "formats/json.h"
#include "util/accounting.h"

namespace Kavren::RouterTesting {
struct Head {
  std::int32_t id = 0;
  std::string title;
};
struct Unregistered {
  int x = 0;
};
}  // namespace Kavren::RouterTesting

HXA_BINDING_STRUCT(Kavren::RouterTesting::Head);
HXA_BINDING_STRUCT(Kavren::RouterTesting::Unregistered);

namespace Kavren::RouterTesting {
namespace {

// Packed fields are read by value.
template <class T>
T Field(T value) {
  return value;
}

std::string Repeated(std::string_view text, int times) {
  std::string repeated;
  for (int i = 0; i < times; ++i) repeated += text;
  return repeated;
}

// What the host keeps of one reply, read before the reply is released.
struct Reply {
  bool failed = false;
  std::string errorText;
  std::int32_t status = 0;
  std::int32_t format = 0;
  std::string contentType;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string json;  // the body value as JSON
  bool releasedToZero = false;
};

struct Request {
  std::int32_t method = Abi::kHttpMethodGet;
  std::string path = {};
  std::vector<std::pair<std::string, std::string>> headers = {};
  std::vector<Abi::HttpArgumentEntry> arguments = {};
  std::optional<std::string> contentType = {};
  std::optional<std::string> body = {};
  Abi::HostWord context = 0;
};

class RouterTest : public ::testing::Test {
 protected:
  RouterTest() {
    router_.SetApiTags({"Plugins", "Plugin test"});
    router_.RegisterStruct<Head>("Head").AddField("id", &Head::id).AddField("title", &Head::title);
  }

  // Calls the endpoint `name` as the host does: through its descriptor's request entry
  // with its registration in the request record, then releases the reply.
  Reply Call(const std::string& name, const Request& request) {
    block_ = router_.BuildApiBlock();
    const Abi::ApiEndpointDescriptor* descriptor = block_.descriptors;
    while (descriptor != nullptr && std::string(Field(descriptor->function.name)) != name) {
      descriptor = descriptor->next;
    }
    EXPECT_NE(descriptor, nullptr) << name;
    if (descriptor == nullptr) return {};

    std::vector<Abi::HttpHeaderEntry> headers;
    for (const auto& [key, value] : request.headers) {
      headers.push_back({key.c_str(), value.c_str()});
    }
    Abi::HttpRequestRecord record{};
    record.method = request.method;
    record.path = request.path.c_str();
    record.arguments = request.arguments.empty() ? nullptr : request.arguments.data();
    record.argumentCount = static_cast<std::uint32_t>(request.arguments.size());
    record.endpoint = Field(descriptor->function.registration);
    record.headers = headers.empty() ? nullptr : headers.data();
    record.headerCount = static_cast<std::uint32_t>(headers.size());
    record.contentType = request.contentType ? request.contentType->c_str() : nullptr;
    record.body = request.body ? request.body->data() : nullptr;
    record.bodyLength = request.body ? static_cast<std::uint32_t>(request.body->size()) : 0;
    record.context = request.context;

    Abi::HttpResponseRecord response;
    std::memset(static_cast<void*>(&response), 0xA5, sizeof(response));  // host garbage
    Abi::ApiRequestEntry entry = Field(descriptor->requestEntry);
    entry(&response, &record);

    Reply reply;
    reply.failed = Field(response.failed) != 0;
    if (Field(response.errorText) != nullptr) reply.errorText = Field(response.errorText);
    reply.status = Field(response.status);
    reply.format = Field(response.format);
    if (Field(response.contentType) != nullptr) reply.contentType = Field(response.contentType);
    for (std::uint32_t i = 0; i < Field(response.headerCount); ++i) {
      reply.headers.emplace_back(Field(response.headers)[i].name, Field(response.headers)[i].value);
    }
    BindingProperty value;
    const Abi::HostValue hostValue = Field(response.value);
    if (HostToValue(value, hostValue, "<result>")) reply.json = WriteJson(value, nullptr);
    Abi::HttpResponseRelease release = Field(response.release);
    EXPECT_NE(release, nullptr);
    if (release != nullptr) release(&response);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&response);
    reply.releasedToZero =
        std::all_of(bytes, bytes + sizeof(response), [](unsigned char b) { return b == 0; });
    return reply;
  }

  BindingRegistry registry_;
  Router router_{registry_};
  Abi::PluginApiBlock block_{};
};

constexpr const char kAcknowledge[] = "DeleteHxaPlayerMessagingV1NotificationByIdAcknowledge";
constexpr const char kRead[] = "GetHxaPlayerMessagingV1Notification";

TEST_F(RouterTest, ServesALiteralGet) {
  int calls = 0;
  router_.RegisterEndpoint(HttpMethod::Get, "/hxa-player-messaging/v1/notification", [&] {
    ++calls;
    return Head{7, "Hello"};
  });
  const Reply reply = Call(kRead, {.path = "/hxa-player-messaging/v1/notification"});
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(reply.failed);
  EXPECT_EQ(reply.status, 0);
  EXPECT_EQ(reply.contentType, "");
  EXPECT_EQ(reply.json, R"({"id":7,"title":"Hello"})");
  EXPECT_TRUE(reply.releasedToZero);
}

TEST_F(RouterTest, AnswersInvalidFunctionWhenPathOrMethodDoNotFit) {
  int calls = 0;
  router_.RegisterEndpoint(HttpMethod::Get, "/hxa-player-messaging/v1/notification", [&] {
    ++calls;
    return Head{};
  });
  router_.RegisterEndpoint(HttpMethod::Delete,
                           "/hxa-player-messaging/v1/notification/{id}/acknowledge",
                           [&](std::int32_t) { ++calls; }, {PathArgument("id")});
  const Request requests[] = {
      {.method = Abi::kHttpMethodPost, .path = "/hxa-player-messaging/v1/notification"},
      {.path = "/hxa-player-messaging/v1/notification?x=1"},
      {.path = "/hxa-player-messaging/v1/notification/"},
  };
  for (const Request& request : requests) {
    const Reply reply = Call(kRead, request);
    EXPECT_TRUE(reply.failed);
    EXPECT_EQ(reply.errorText, "Invalid function");
    EXPECT_EQ(reply.status, 404);
    EXPECT_TRUE(reply.releasedToZero);
  }
  const std::string longId(2000, '1');
  const Reply tooLong = Call(
      kAcknowledge, {.method = Abi::kHttpMethodDelete,
                     .path = "/hxa-player-messaging/v1/notification/" + longId + "/acknowledge"});
  EXPECT_EQ(tooLong.errorText, "Invalid function");
  EXPECT_EQ(tooLong.status, 404);
  EXPECT_EQ(calls, 0);
}

TEST_F(RouterTest, RequestWithoutRegistrationIsInvalidFunction) {
  Abi::HttpRequestRecord record{};
  record.path = "/x";
  Abi::HttpResponseRecord response{};
  RouterRequestEntry(&response, &record);
  EXPECT_EQ(std::string(Field(response.errorText)), "Invalid function");
  EXPECT_EQ(Field(response.status), 404);
  Field(response.release)(&response);
  RouterRequestEntry(nullptr, &record);  // nothing to fill: ignored
}

TEST_F(RouterTest, BindsPathCapturesAndConvertsThemWhenPreparing) {
  std::vector<std::int32_t> seen;
  router_.RegisterEndpoint(HttpMethod::Delete,
                           "/hxa-player-messaging/v1/notification/{id}/acknowledge",
                           [&](std::int32_t id) { seen.push_back(id); }, {PathArgument("id")});
  Reply reply =
      Call(kAcknowledge, {.method = Abi::kHttpMethodDelete,
                          .path = "/hxa-player-messaging/v1/notification/42/acknowledge"});
  EXPECT_FALSE(reply.failed);
  EXPECT_EQ(seen, std::vector<std::int32_t>{42});

  // Not a number: refused before the handler runs; the status stays unset.
  reply = Call(kAcknowledge, {.method = Abi::kHttpMethodDelete,
                              .path = "/hxa-player-messaging/v1/notification/abc/acknowledge"});
  EXPECT_TRUE(reply.failed);
  EXPECT_EQ(reply.status, 0);
  EXPECT_EQ(reply.errorText, "Value abc for 'id' of type int32 is in an incorrect format");
  EXPECT_EQ(seen.size(), 1u);
}

// An endpoint whose parameters take every location, with its arguments kept as values.
class BindingTest : public RouterTest {
 protected:
  BindingTest() {
    router_.RegisterEndpoint(
        HttpMethod::Post, "/items/{id}",
        [this](std::string id, std::optional<std::string> query, bool flag, BindingProperty object,
               std::optional<std::vector<std::int32_t>> list, std::optional<std::string> header,
               BindingProperty body, std::optional<std::int32_t> count) {
          seen = BindingProperty();
          seen.Member("id").SetString(id);
          if (query) seen.Member("query").SetString(*query);
          seen.Member("flag").SetBool(flag);
          seen.Member("object").CopyFrom(object);
          if (list) {
            BindingProperty& values = seen.Member("list").MakeCollection();
            for (std::int32_t value : *list) values.Append().SetSigned(value);
          }
          if (header) seen.Member("header").SetString(*header);
          seen.Member("body").CopyFrom(body);
          if (count) seen.Member("count").SetSigned(*count);
          ++calls;
        },
        {PathArgument("id"),
         {"query", "", kLocationQuery},
         {"flag", "", kLocationAny},
         {"object", "", kLocationAny},
         {"list", "", kLocationAny},
         {"Velkin-Id", "", kLocationHeader},
         {"body", "", kLocationBody},
         {"count", "", kLocationAny}});
  }

  Reply Post(std::string pathAndQuery, Request request = {}) {
    request.method = Abi::kHttpMethodPost;
    request.path = "/items/" + pathAndQuery;
    return Call("PostItemsById", request);
  }
  std::string Seen() const { return WriteJson(seen, nullptr); }

  BindingProperty seen;
  int calls = 0;
};

TEST_F(BindingTest, BindsEachLocation) {
  const Reply reply = Post(
      "a%20b?query=q%2B1&query=last&flag&list=[1,2]&object.k.1=x",
      {.headers = {{"velkin-id", "V-1"}}, .contentType = "application/json", .body = R"({"n":1})"});
  EXPECT_FALSE(reply.failed) << reply.errorText;
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(Seen(), R"({"body":{"n":1},"flag":true,"header":"V-1",)"
                    // The placeholder runs to the end of the path, query included.
                    R"("id":"a b?query=q+1&query=last&flag&list=[1,2]&object.k.1=x",)"
                    R"("list":[1,2],"object":{"k":[null,"x"]},"query":"last"})");
}

TEST_F(BindingTest, AbsentFlagIsFalseAndEmptyTextsFollowTheParameterType) {
  Reply reply = Post("1");
  EXPECT_FALSE(reply.failed) << reply.errorText;
  EXPECT_EQ(Seen(), R"({"body":null,"flag":false,"id":"1","object":null})");
  // An empty text makes an object an empty structure and a vector an empty collection,
  // and is refused for any other type.
  reply = Post("1?object=&list=");
  EXPECT_FALSE(reply.failed) << reply.errorText;
  EXPECT_EQ(seen.Find("list").Kind(), ValueKind::kCollection);
  EXPECT_EQ(seen.Find("object").Kind(), ValueKind::kStructure);
  EXPECT_EQ(seen.Find("object").Size(), 0u);
  reply = Post("1?count=");
  EXPECT_EQ(reply.errorText, "Expected value for argument 'count'.");
  reply = Post("1?query=");
  EXPECT_EQ(reply.errorText, "Expected value for argument 'query'.");
  EXPECT_EQ(calls, 2);
}

TEST_F(BindingTest, WalksDottedKeysAndIndexes) {
  Reply reply = Post("1?object.ids.2=5&object.name=n&object.k.0x10=a&object.k.010=b");
  EXPECT_FALSE(reply.failed) << reply.errorText;
  EXPECT_EQ(WriteJson(seen.Find("object"), nullptr),
            R"({"ids":[null,null,"5"],"k":[null,null,null,null,null,null,null,null,"b",)"
            R"(null,null,null,null,null,null,null,"a"],"name":"n"})");
  // A member after an index.
  reply = Post("1?object.list.1.key=v");
  EXPECT_FALSE(reply.failed) << reply.errorText;
  EXPECT_EQ(WriteJson(seen.Find("object"), nullptr), R"({"list":[null,{"key":"v"}]})");

  struct Row {
    std::string query;
    std::string message;
  };
  const Row rows[] = {
      {"object.1x=v", "Index 1x is in an incorrect format"},
      {"object.0x=v", "Index 0x is in an incorrect format"},
      {"object.08=v", "Index 08 is in an incorrect format"},
      {"object.65536=v", "Index 65536 is out of range"},
      {"object.0x10000=v", "Index 0x10000 is out of range"},
      {"object.4294967296=v", "Index 4294967296 is out of range"},
      {"object.99999999999999999999999=v", "Index 99999999999999999999999 is out of range"},
      // The keys of one request create at most 65,536 elements in all, however they nest
      // or spread their indexes.
      {"object.a.40000=v&object.b.40000=v", "Index 40000 is out of range"},
      {"object" + Repeated(".65535", 166) + "=v", "Index 65535 is out of range"},
      {"nope=1", "Unknown argument 'nope' for 'PostItemsById'."},
      {"nope.a=1", "Unknown argument 'nope' for 'PostItemsById'."},
      {"id=1", "Argument 'id' for 'PostItemsById' was specified in an invalid location."},
      {"body=1", "Argument 'body' for 'PostItemsById' was specified in an invalid location."},
  };
  for (const Row& row : rows) {
    reply = Post("1?" + row.query);
    EXPECT_TRUE(reply.failed) << row.query;
    EXPECT_EQ(reply.errorText, row.message) << row.query;
    EXPECT_EQ(reply.status, 0) << row.query;
  }
  EXPECT_EQ(calls, 2);
}

TEST(BindKeyText, CellsBelowAnObjectCostTwoAsTheConversionCopiesThem) {
  FunctionRecord function;
  function.name = "F";
  function.arguments.push_back({"object", "", TypeRef{TypeKind::kObject}, false, kLocationAny});
  std::vector<BindingProperty> arguments(1);
  EXPECT_EQ(
      BindKeyText(function, arguments, "object.a.32768", "v", kLocationQuery).GetFailure().message,
      "Index 32768 is out of range");
  EXPECT_TRUE(BindKeyText(function, arguments, "object.a.32767", "v", kLocationQuery).Succeeded());
  EXPECT_EQ(arguments[0].Find("a").Size(), 32768u);
  // Elements that exist already cost nothing; one more is over the allowance.
  std::size_t cellsLeft = 3;
  EXPECT_TRUE(
      BindKeyText(function, arguments, "object.a.7", "w", kLocationQuery, cellsLeft).Succeeded());
  EXPECT_TRUE(
      BindKeyText(function, arguments, "object.b.0", "w", kLocationQuery, cellsLeft).Succeeded());
  EXPECT_EQ(BindKeyText(function, arguments, "object.c.0", "w", kLocationQuery, cellsLeft)
                .GetFailure()
                .message,
            "Index 0 is out of range");
  EXPECT_EQ(cellsLeft, 1u);
}

TEST(BindKeyText, NativeElementsCostTheCellsTheirBytesFill) {
  // The endpoint converts a vector's elements into native ones held beside the cells, so
  // an element of a vector of texts costs three cells and one of 64-bit integers two.
  FunctionRecord function;
  function.name = "F";
  function.arguments.push_back(
      {"texts", "", TypeRef{TypeKind::kVector, TypeKind::kString}, false, kLocationAny});
  function.arguments.push_back(
      {"numbers", "", TypeRef{TypeKind::kVector, TypeKind::kInt64}, false, kLocationAny});
  std::vector<BindingProperty> arguments(2);
  std::size_t cellsLeft = kMaxKeyCells;
  EXPECT_TRUE(
      BindKeyText(function, arguments, "texts.9", "a", kLocationQuery, cellsLeft).Succeeded());
  EXPECT_EQ(cellsLeft, kMaxKeyCells - 30);
  EXPECT_TRUE(
      BindKeyText(function, arguments, "numbers.9", "1", kLocationQuery, cellsLeft).Succeeded());
  EXPECT_EQ(cellsLeft, kMaxKeyCells - 50);
  std::vector<BindingProperty> fresh(2);
  EXPECT_EQ(BindKeyText(function, fresh, "numbers.32768", "1", kLocationQuery).GetFailure().message,
            "Index 32768 is out of range");
  EXPECT_TRUE(BindKeyText(function, fresh, "numbers.32767", "1", kLocationQuery).Succeeded());
}

TEST(BindKeyText, LimitsKeysTo512Components) {
  // Through the request entry such keys cannot arrive: a path that long never reaches an
  // expression route, and literal routes never match a query.
  FunctionRecord function;
  function.name = "F";
  function.arguments.push_back({"object", "", TypeRef{TypeKind::kObject}, false, kLocationAny});
  std::vector<BindingProperty> arguments(1);
  std::string key = "object";
  for (int i = 1; i < 512; ++i) key += ".m";
  EXPECT_TRUE(BindKeyText(function, arguments, key, "v", kLocationQuery).Succeeded());
  const MaybeType<Failure, void> deeper =
      BindKeyText(function, arguments, key + ".m", "v", kLocationQuery);
  EXPECT_EQ(deeper.GetFailure().message,
            "Argument 'object' for 'F' is nested deeper than 512 levels.");
  std::string deep = "object";
  for (int i = 0; i < 100000; ++i) deep += ".0";
  const MaybeType<Failure, void> far = BindKeyText(function, arguments, deep, "v", kLocationQuery);
  EXPECT_EQ(far.GetFailure().message,
            "Argument 'object' for 'F' is nested deeper than 512 levels.");
}

TEST_F(BindingTest, HeadersAreFoundOnlyByTheLowerCasedName) {
  Reply reply = Post("1", {.headers = {{"Velkin-Id", "upper"}}});
  EXPECT_FALSE(reply.failed) << reply.errorText;
  EXPECT_EQ(seen.Find("header").GetString(), "");
  reply = Post("1", {.headers = {{"velkin-id", "lower"}}});
  EXPECT_EQ(seen.Find("header").GetString(), "lower");
  // A header parameter given in the query is in the wrong place.
  reply = Post("1?Velkin-Id=q");
  EXPECT_EQ(reply.errorText,
            "Argument 'Velkin-Id' for 'PostItemsById' was specified in an invalid location.");
}

TEST_F(BindingTest, TextsOfStructuredParametersAreDecodedBySniffing) {
  struct Row {
    std::string query;
    std::string seen;  // the member "object" or "list" as JSON, or the failure
  };
  const Row rows[] = {
      {"object=%7B%22a%22%3A1%7D", R"({"a":1})"},
      {"object=++%5B1%5D", "[1]"},
      {"object=---%0Aa%3A+1", R"({"a":1})"},
      {"object=%81%A1a%01", R"({"a":1})"},
      {"object=12", R"("12")"},
      {"object.x=%7B%7D", R"({"x":"{}"})"},
      {"object=%7Bbad",
       "Couldn't deserialize JSON value for parameter 'object' of 'PostItemsById': Error: "
       "Missing a name for object member. at offset 1."},
      {"object=---%0A%5B",
       "Couldn't deserialize YAML value for parameter 'object' of 'PostItemsById': YAML "
       "parser error: did not find expected node content. At line: 2 col: 0"},
      {"object=%91%C1",
       "Couldn't deserialize MessagePack value for parameter 'object' of "
       "'PostItemsById': Invalid MessagePack data at position 2."},
  };
  for (const Row& row : rows) {
    const Reply reply = Post("1?" + row.query);
    const std::string got =
        reply.failed ? reply.errorText : WriteJson(seen.Find("object"), nullptr);
    EXPECT_EQ(got, row.seen) << row.query;
  }
  // The text 12 for an integer parameter is a string until the handler prepares the call.
  const Reply reply = Post("1?count=12&list=%5B1,2%5D");
  EXPECT_FALSE(reply.failed) << reply.errorText;
  EXPECT_EQ(seen.Find("count").GetSigned(), 12);
  EXPECT_EQ(WriteJson(seen.Find("list"), nullptr), "[1,2]");
}

TEST_F(BindingTest, BindsArgumentEntriesByNameAndPosition) {
  Abi::HostValue text{};
  SetHostBorrowedString(text, "named");
  Abi::HostValue yes{};
  SetHostBool(yes, true);
  Abi::HostValue number{};
  SetHostSigned(number, 9);
  // Positional entry 1 binds parameter 1 + the one placeholder capture: "flag".
  Reply reply = Post("1", {.arguments = {{"query", text}, {nullptr, yes}}});
  EXPECT_FALSE(reply.failed) << reply.errorText;
  EXPECT_EQ(seen.Find("query").GetString(), "named");
  EXPECT_EQ(seen.Find("flag").GetBool(), true);
  // The entry's value must convert to the parameter's type when the call is prepared.
  reply = Post("1", {.arguments = {{nullptr, number}}});
  EXPECT_EQ(reply.errorText, "Couldn't assign value to 'query' because the input is not a string.");

  reply = Post("1", {.arguments = {{"missing", text}}});
  EXPECT_EQ(reply.errorText, "Unknown argument 'missing' for 'PostItemsById'.");
  std::vector<Abi::HttpArgumentEntry> many(8, Abi::HttpArgumentEntry{nullptr, number});
  reply = Post("1", {.arguments = many});
  EXPECT_EQ(reply.errorText, "Unknown argument '7' for 'PostItemsById'.");
  // A collection longer than a value can hold meets the element limit before any element
  // is read; the conversion's failure names the limit.
  const Abi::HostValue tooLong{Abi::kHostValueCollection, reinterpret_cast<Abi::HostWord>(&number),
                               0x10000000};
  reply = Post("1", {.arguments = {{"object", tooLong}}});
  EXPECT_EQ(reply.status, 0);
  EXPECT_EQ(reply.errorText,
            "Couldn't assign value to 'object' because the input is too large: more than "
            "268435455 elements in one collection.");
}

TEST_F(BindingTest, DecodesTheBodyByItsContentType) {
  struct Row {
    std::optional<std::string> contentType;
    std::string body;
    std::string seen;  // the member "body" as JSON, or the failure
  };
  const Row rows[] = {
      {"application/json; charset=utf-8", R"({"a":[1]})", R"({"a":[1]})"},
      {"Application/VND.API+JSON", "[true]", "[true]"},
      {"application/x-yaml", "a: b", R"({"a":"b"})"},
      {"text/x-yaml", "- 1", "[1]"},
      {"application/x-msgpack",
       std::string("\x81\xA1"
                   "a\x01",
                   4),
       R"({"a":1})"},
      {"application/x-msgpack",
       std::string("\x81\xA1"
                   "a\x01\x02",
                   5),
       "Extra MessgePack data found in body"},
      {std::nullopt, std::string("\x91\x05", 2), "[5]"},
      {std::nullopt, R"(  {"j":1})", R"({"j":1})"},
      {std::nullopt, "--- [2]", "[2]"},
      {std::nullopt, "plain", "Unsupported body content type"},
      {"text/plain", "{}", "Unsupported body content type"},
      {"text/json", "{}", "Unsupported body content type"},
      {"application/json", "{", "Error: Missing a name for object member. at offset 1."},
  };
  for (const Row& row : rows) {
    const Reply reply = Post("1", {.contentType = row.contentType, .body = row.body});
    const std::string got = reply.failed ? reply.errorText : WriteJson(seen.Find("body"), nullptr);
    EXPECT_EQ(got, row.seen) << row.body;
  }
}

TEST_F(RouterTest, ReleaseRunsWhenPreparationFails) {
  struct CountingHandler : EndpointHandler {
    explicit CountingHandler(int* log) : log_(log) {}
    Token Prepare(EndpointCall& call, Abi::HostWord) override {
      log_[0]++;
      call.outcome = Failure{0, "refused"};
      return 77;
    }
    void Invoke(EndpointCall&, const HttpBaseTransport::Request*, Token, Abi::HostWord) override {
      log_[1]++;
    }
    void Release(Token token) noexcept override { log_[2] += token == 77 ? 1 : 100; }
    int* log_;
  };
  int log[3] = {0, 0, 0};
  auto function = std::make_unique<EndpointFunction>();
  function->name = "Custom";
  function->urlTemplate = "/custom";
  function->method = Abi::kHttpMethodGet;
  function->handler = std::make_unique<CountingHandler>(log);
  router_.AddEndpoint(std::move(function));
  const Reply reply = Call("Custom", {.path = "/custom"});
  EXPECT_EQ(reply.errorText, "refused");
  EXPECT_THAT(log, ::testing::ElementsAre(1, 0, 1));
}

TEST_F(RouterTest, FillsTheResponseFromTheHandlersResult) {
  router_.RegisterEndpoint(HttpMethod::Get, "/unregistered", [] { return Unregistered{}; });
  router_.RegisterEndpoint(HttpMethod::Get, "/missing", [] {
    return MaybeType<Failure, void>(Failure{404, "Not found"});
  });
  router_.RegisterEndpoint(HttpMethod::Get, "/broken",
                           [] { return RemotingTypedResult<Head>::InternalError(); });
  router_.RegisterEndpoint(HttpMethod::Get, "/settings", [] {
    RemotingTypedResult<Head> result(Head{3, "t"});
    result.status = 201;
    result.format = 7;  // not a body format: sent as 0
    result.contentType = "application/json";
    result.headers = {{"x-a", "1"}, {"x-b", "2"}};
    return result;
  });
  router_.RegisterEndpoint(HttpMethod::Get, "/throws",
                           []() -> Head { throw std::runtime_error("boom"); });

  Reply reply = Call("GetUnregistered", {.path = "/unregistered"});
  EXPECT_EQ(reply.status, 400);
  EXPECT_TRUE(reply.failed);
  EXPECT_EQ(reply.errorText,
            "Couldn't convert native value because it's an unregistered structure.");

  router_.RegisterEndpoint(HttpMethod::Get, "/typed-unregistered", [] {
    RemotingTypedResult<Unregistered> result;
    result.status = 200;
    return result;
  });
  reply = Call("GetTypedUnregistered", {.path = "/typed-unregistered"});
  EXPECT_EQ(reply.status, 400);
  EXPECT_EQ(reply.errorText,
            "Couldn't convert native value because it's an unregistered structure.");

  reply = Call("GetMissing", {.path = "/missing"});
  EXPECT_EQ(reply.status, 404);
  EXPECT_EQ(reply.errorText, "Not found");

  reply = Call("GetBroken", {.path = "/broken"});
  EXPECT_EQ(reply.status, 500);
  EXPECT_EQ(reply.errorText, "Internal server error");

  reply = Call("GetSettings", {.path = "/settings"});
  EXPECT_FALSE(reply.failed);
  EXPECT_EQ(reply.status, 201);
  EXPECT_EQ(reply.format, 0);
  EXPECT_EQ(reply.contentType, "application/json");
  EXPECT_THAT(reply.headers,
              ::testing::ElementsAre(::testing::Pair("x-a", "1"), ::testing::Pair("x-b", "2")));
  EXPECT_EQ(reply.json, R"({"id":3,"title":"t"})");
  EXPECT_TRUE(reply.releasedToZero);

  reply = Call("GetThrows", {.path = "/throws"});
  EXPECT_TRUE(reply.failed);
  EXPECT_EQ(reply.status, 500);
  EXPECT_EQ(reply.errorText, "Internal server error");
  EXPECT_TRUE(reply.releasedToZero);
}

TEST_F(RouterTest, HandsTheRequestContextToHandlersThatAskForIt) {
  std::string path;
  Abi::HostWord context = 0;
  std::string header;
  router_.RegisterEndpoint(HttpMethod::Put, "/ctx/{n}",
                           [&](const RemotingRequest& request, std::int32_t n) {
                             path = request.path;
                             context = request.context;
                             header = request.headers.count("h") ? request.headers.at("h") : "";
                             EXPECT_EQ(request.method, HttpMethod::Put);
                             ASSERT_NE(request.arguments, nullptr);
                             EXPECT_EQ(request.arguments->size(), 1u);
                             EXPECT_EQ(n, 5);
                           },
                           {PathArgument("n")});
  const Reply reply = Call(
      "PutCtxByN",
      {.method = Abi::kHttpMethodPut, .path = "/ctx/5", .headers = {{"h", "v"}}, .context = 1234});
  EXPECT_FALSE(reply.failed) << reply.errorText;
  EXPECT_EQ(path, "/ctx/5");
  EXPECT_EQ(context, 1234u);
  EXPECT_EQ(header, "v");
}

TEST_F(RouterTest, MethodsFitByCodeAndCustomText) {
  int calls = 0;
  auto custom = std::make_unique<EndpointFunction>();
  custom->name = "Purge";
  custom->urlTemplate = "/purge";
  custom->method = Abi::kHttpMethodCustom;
  custom->customMethod = "PURGE";
  custom->handler = std::make_unique<detail::FunctionEndpointHandler<void, void>>(
      [&] { ++calls; }, registry_, *custom);
  router_.AddEndpoint(std::move(custom));
  auto any = std::make_unique<EndpointFunction>();
  any->name = "Any";
  any->urlTemplate = "/any";
  any->handler = std::make_unique<detail::FunctionEndpointHandler<void, void>>([&] { ++calls; },
                                                                               registry_, *any);
  router_.AddEndpoint(std::move(any));

  auto call = [&](const char* name, std::int32_t method, const char* customMethod) {
    block_ = router_.BuildApiBlock();
    Abi::HttpRequestRecord request{};
    request.method = method;
    request.path = name == std::string("Purge") ? "/purge" : "/any";
    request.customMethod = customMethod;
    for (const auto* d = block_.descriptors; d != nullptr; d = Field(d->next)) {
      if (std::string(Field(d->function.name)) == name)
        request.endpoint = Field(d->function.registration);
    }
    Abi::HttpResponseRecord response{};
    RouterRequestEntry(&response, &request);
    const std::int32_t status = Field(response.status);
    Field(response.release)(&response);
    return status;
  };
  EXPECT_EQ(call("Purge", Abi::kHttpMethodCustom, "PURGE"), 0);
  EXPECT_EQ(call("Purge", Abi::kHttpMethodCustom, "OTHER"), 404);
  EXPECT_EQ(call("Purge", Abi::kHttpMethodCustom, nullptr), 404);
  EXPECT_EQ(call("Purge", Abi::kHttpMethodPost, nullptr), 404);
  EXPECT_EQ(call("Any", Abi::kHttpMethodPost, nullptr), 0);
  EXPECT_EQ(call("Any", 99, nullptr), 0);
  EXPECT_EQ(calls, 3);
}

TEST_F(RouterTest, RefusesRegistrationsItCannotServe) {
  EXPECT_EQ(router_.RegisterEndpoint(HttpMethod::Custom, "/x", [] {}), nullptr);
  EXPECT_EQ(router_.RegisterEndpoint(HttpMethod::None, "/x", [] {}), nullptr);
  // Two native parameters, one declared.
  EXPECT_EQ(router_.RegisterEndpoint(HttpMethod::Get, "/x", [](int, int) {},
                                     {{"a", "", kLocationAny, false}}),
            nullptr);
  EXPECT_TRUE(router_.Endpoints().empty());
  EXPECT_EQ(registry_.FunctionsSnapshot().size(), 0u);
}

TEST_F(RouterTest, MatchPrefersTheShortestCaptures) {
  router_.RegisterEndpoint(HttpMethod::Get, "/m/{+rest}", [] {});
  router_.RegisterEndpoint(HttpMethod::Get, "/m/{a}/{b}", [] {});
  router_.RegisterEndpoint(HttpMethod::Get, "/m/x/{b}", [] {});
  router_.RegisterEndpoint(HttpMethod::Get, "/m/x/y", [] {});
  router_.RegisterEndpoint(HttpMethod::Get, "/m/{c}/{d}", [] {});
  const auto& endpoints = router_.Endpoints();
  const EndpointFunction* rest = endpoints.at("GetMByRest");
  const EndpointFunction* two = endpoints.at("GetMByAByB");
  const EndpointFunction* one = endpoints.at("GetMXByB");
  const EndpointFunction* literal = endpoints.at("GetMXY");
  // The same captured length as `two`.
  const EndpointFunction* tie = endpoints.at("GetMByCByD");
  Abi::HttpRequestRecord request{};
  request.method = Abi::kHttpMethodGet;
  request.path = "/m/x/y";
  RouteCaptures captures;
  std::size_t count = 0;
  const EndpointFunction* order1[] = {rest, two, one};
  EXPECT_EQ(Router::Match(order1, request, captures, count), one);
  EXPECT_EQ(count, 1u);
  // Equal lengths keep the earlier route.
  const EndpointFunction* order2[] = {rest, one, two};
  EXPECT_EQ(Router::Match(order2, request, captures, count), one);
  const EndpointFunction* order3[] = {rest, two, tie};
  EXPECT_EQ(Router::Match(order3, request, captures, count), two);
  const EndpointFunction* order4[] = {rest, tie, two};
  EXPECT_EQ(Router::Match(order4, request, captures, count), tie);
  // A route without captures ends the search.
  const EndpointFunction* order5[] = {literal, one};
  EXPECT_EQ(Router::Match(order5, request, captures, count), literal);
  EXPECT_EQ(count, 0u);
  request.method = Abi::kHttpMethodPost;
  EXPECT_EQ(Router::Match(order1, request, captures, count), nullptr);
}

}  // namespace
}  // namespace Kavren::RouterTesting
