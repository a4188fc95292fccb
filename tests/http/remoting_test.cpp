// Calls of the host's REST API through a fake host: requests, failures, typed results.
#include "http/remoting.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "binding/host_value.h"
#include "binding/registry.h"
#include "http/fake_host.h"

namespace Kavren::RemotingTesting {
struct Notice {
  std::string id;
  std::int32_t count = 0;
};
struct Unregistered {
  std::int32_t x = 0;
};
}  // namespace Kavren::RemotingTesting

HXA_BINDING_STRUCT(Kavren::RemotingTesting::Notice);
HXA_BINDING_STRUCT(Kavren::RemotingTesting::Unregistered);

namespace Kavren {
namespace {

using RemotingTesting::Notice;
using RemotingTesting::Unregistered;
using ::testing::ElementsAre;
using Testing::FakeHost;

constexpr char kPath[] = "/hxa-login/v1/login-data-packet";

int hostReleases = 0;

// The host's own release of the responses it fills: its texts come from the C heap.
void HXA_CDECL HostRelease(Abi::HttpResponseRecord* response) {
  ++hostReleases;
  std::free(const_cast<char*>(response->errorText));
  ReleaseHostValue(response->value);
  std::memset(static_cast<void*>(response), 0, sizeof(*response));
}

// A streamed body served in the given chunks; "more" is set on all but the last.
struct FakeStream {
  std::vector<std::string> chunks;
  std::size_t failAt = static_cast<std::size_t>(-1);
  std::size_t reads = 0;
  int releases = 0;

  static bool HXA_CDECL Read(void* self, char* buffer, std::uint32_t* length, bool* more) {
    auto& stream = *static_cast<FakeStream*>(self);
    const std::size_t index = stream.reads++;
    if (index == stream.failAt || index >= stream.chunks.size()) return false;
    const std::string& chunk = stream.chunks[index];
    if (chunk.size() > *length) return false;
    std::memcpy(buffer, chunk.data(), chunk.size());
    *length = static_cast<std::uint32_t>(chunk.size());
    *more = index + 1 < stream.chunks.size();
    return true;
  }
  static void HXA_CDECL Release(void* self) { ++static_cast<FakeStream*>(self)->releases; }

  void AttachTo(Abi::HttpResponseRecord& response) {
    response.stream = this;
    response.streamRead = &Read;
    response.streamRelease = &Release;
  }
};

class RemotingTest : public ::testing::Test {
 protected:
  RemotingTest() {
    hostReleases = 0;
    registry.RegisterStruct<Notice>("Notice")
        .AddField("id", &Notice::id, "", kFieldRequired)
        .AddField("count", &Notice::count);
    context.functions = host.Functions();
    context.cookie = 0xC00C1E;
    context.registry = &registry;
    host.onCall = [this](Abi::HttpResponseRecord* response, const Abi::HttpRequestRecord* request) {
      method = request->method;
      path = request->path;
      requestContext = request->context;
      for (std::uint32_t i = 0; i < request->argumentCount; ++i) {
        argumentNames.push_back(request->arguments[i].name);
        argumentTypes.push_back(request->arguments[i].value.type);
        EXPECT_TRUE(HostToValue(arguments.emplace_back(), request->arguments[i].value, "argument"));
      }
      otherFieldsZero = request->endpoint == nullptr && request->headers == nullptr &&
                        request->headerCount == 0 && request->contentType == nullptr &&
                        request->body == nullptr && request->bodyLength == 0 &&
                        request->customMethod == nullptr;
      response->release = &HostRelease;
      if (answer) answer(*response);
    };
  }

  // Answers with the given host value as the body.
  void AnswerWithStructure(std::function<void(BindingProperty&)> build) {
    answer = [build](Abi::HttpResponseRecord& response) {
      BindingProperty body;
      build(body);
      ValueToHost(response.value, body, nullptr);
    };
  }

  void AnswerWithError(std::int32_t status, const char* text) {
    answer = [status, text](Abi::HttpResponseRecord& response) {
      response.errorText = strdup(text);
      response.failed = 1;
      response.status = status;
    };
  }

  BindingRegistry registry;
  FakeHost host;
  RemotingContext context;
  std::function<void(Abi::HttpResponseRecord&)> answer;

  // What the host's Call saw, copied while the request was valid.
  std::int32_t method = -1;
  std::string path;
  Abi::HostWord requestContext = 0;
  std::vector<const char*> argumentNames;
  std::vector<Abi::HostWord> argumentTypes;
  std::vector<BindingProperty> arguments;
  bool otherFieldsZero = false;
};

TEST_F(RemotingTest, CallSendsOnePositionalEntryPerParameterWithTheCookie) {
  BindingProperty list;
  list.Append().SetString("ack");

  Abi::HttpResponseRecord response{};
  const MaybeType<Failure, void> outcome =
      Call(context, response, HttpMethod::Post, "/hxa-login/v1/session/invoke",
           "clientFacadeService", std::string("callPersistenceMessaging"), list);
  response.release(&response);

  EXPECT_TRUE(outcome.Succeeded());
  EXPECT_EQ(method, Abi::kHttpMethodPost);
  EXPECT_EQ(path, "/hxa-login/v1/session/invoke");
  EXPECT_EQ(requestContext, 0xC00C1Eu);
  EXPECT_TRUE(otherFieldsZero);
  EXPECT_THAT(argumentNames, ElementsAre(nullptr, nullptr, nullptr));
  EXPECT_THAT(argumentTypes, ElementsAre(Abi::kHostValueOwnedString, Abi::kHostValueOwnedString,
                                         Abi::kHostValueCollection));
  EXPECT_EQ(arguments[0].GetString(), "clientFacadeService");
  EXPECT_EQ(arguments[1].GetString(), "callPersistenceMessaging");
  EXPECT_EQ(arguments[2].At(0).GetString(), "ack");
}

TEST_F(RemotingTest, CallConvertsARegisteredRecordParameter) {
  Abi::HttpResponseRecord response{};
  const MaybeType<Failure, void> outcome =
      Call(context, response, HttpMethod::Put, kPath, Notice{"n-1", 3});
  response.release(&response);

  EXPECT_TRUE(outcome.Succeeded());
  ASSERT_EQ(arguments.size(), 1u);
  EXPECT_EQ(arguments[0].Find("id").GetString(), "n-1");
  EXPECT_EQ(arguments[0].Find("count").GetSigned(), 3);
}

TEST_F(RemotingTest, ErrorResponseFailsWithTheResponseStatus) {
  AnswerWithError(503, "Service is starting");

  Abi::HttpResponseRecord response{};
  const MaybeType<Failure, void> outcome = Call(context, response, HttpMethod::Get, kPath);

  ASSERT_TRUE(outcome.Failed());
  EXPECT_EQ(outcome.GetFailure().code, 503);
  EXPECT_EQ(outcome.GetFailure().message,
            "Error response for GET /hxa-login/v1/login-data-packet: Service is starting");
  EXPECT_EQ(argumentNames.size(), 0u);
  response.release(&response);  // the caller owns the response
}

TEST_F(RemotingTest, FailedFlagWithoutTextIsStillAFailure) {
  answer = [](Abi::HttpResponseRecord& response) {
    response.failed = 1;
    response.status = 502;
  };

  const RemotingTypedResult<Notice> result = TypedCall<Notice>(context, HttpMethod::Get, kPath);

  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.status, 502);
  EXPECT_EQ(result.errorText, "Error response for GET /hxa-login/v1/login-data-packet: ");
  EXPECT_EQ(hostReleases, 1);
}

TEST_F(RemotingTest, UnconvertibleParameterFailsWith400BeforeTheHostIsCalled) {
  Abi::HttpResponseRecord response{};
  const MaybeType<Failure, void> outcome =
      Call(context, response, HttpMethod::Post, "/hxa-login/v1/session/invoke", "service",
           Unregistered{});

  ASSERT_TRUE(outcome.Failed());
  EXPECT_EQ(outcome.GetFailure().code, 400);
  EXPECT_EQ(outcome.GetFailure().message,
            "Request not sent: Error converting parameters for POST /hxa-login/v1/session/invoke: "
            "Couldn't convert native value because it's an unregistered structure.");
  EXPECT_TRUE(host.calls.empty());
}

TEST_F(RemotingTest, CallWithoutAHostTableSendsNothing) {
  context.functions = nullptr;
  Abi::HttpResponseRecord response{};

  const MaybeType<Failure, void> outcome = Call(context, response, HttpMethod::Get, kPath);

  ASSERT_TRUE(outcome.Failed());
  EXPECT_EQ(outcome.GetFailure().message,
            "Request not sent: No host to call for GET /hxa-login/v1/login-data-packet");
}

TEST_F(RemotingTest, TypedCallConvertsTheResponseValue) {
  AnswerWithStructure([](BindingProperty& body) {
    body.Member("id").SetString("n-7");
    body.Member("count").SetSigned(2);
    body.Member("ignored").SetBool(true);
  });

  const RemotingTypedResult<Notice> result = TypedCall<Notice>(context, HttpMethod::Get, kPath);

  ASSERT_TRUE(result.ok) << result.errorText;
  EXPECT_EQ(result.value.id, "n-7");
  EXPECT_EQ(result.value.count, 2);
  EXPECT_EQ(hostReleases, 1);
}

TEST_F(RemotingTest, TypedCallMissingRequiredFieldFailsWithCodeZero) {
  AnswerWithStructure([](BindingProperty& body) { body.Member("count").SetSigned(2); });

  const RemotingTypedResult<Notice> result = TypedCall<Notice>(context, HttpMethod::Get, kPath);

  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.errorText,
            "Error converting response for GET /hxa-login/v1/login-data-packet: Couldn't assign "
            "value to '<result>' of type Notice because the input structure doesn't have "
            "required field 'id'.");
  EXPECT_EQ(hostReleases, 1);
}

TEST_F(RemotingTest, TypedCallOfAnErrorResponseKeepsItsStatusAndReleasesTheResponse) {
  AnswerWithError(404, "No such resource");

  const RemotingTypedResult<Notice> result = TypedCall<Notice>(context, HttpMethod::Get, kPath);

  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.status, 404);
  EXPECT_EQ(result.errorText,
            "Error response for GET /hxa-login/v1/login-data-packet: No such resource");
  EXPECT_EQ(hostReleases, 1);
}

TEST_F(RemotingTest, HostValueOfUnknownTypeFailsTheConversion) {
  answer = [](Abi::HttpResponseRecord& response) { response.value.type = 77; };

  const RemotingTypedResult<BindingProperty> result =
      TypedCall<BindingProperty>(context, HttpMethod::Get, kPath);

  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.errorText,
            "Error converting response for GET /hxa-login/v1/login-data-packet: Couldn't assign "
            "value to '<result>' of type object because the input is of an incompatible type "
            "''.");
  answer = nullptr;
}

// A JSON text of exactly `length` bytes: {"id":"xxx...x"}.
std::string JsonOfLength(std::size_t length) {
  const std::string frame = "{\"id\":\"\"}";
  return "{\"id\":\"" + std::string(length - frame.size(), 'x') + "\"}";
}

std::vector<std::string> Split(const std::string& text, std::vector<std::size_t> sizes) {
  std::vector<std::string> chunks;
  std::size_t at = 0;
  for (std::size_t size : sizes) {
    chunks.push_back(text.substr(at, size));
    at += size;
  }
  return chunks;
}

TEST_F(RemotingTest, StreamedResponseIsReadInFullChunksAndParsedAsOneJsonText) {
  const std::string json = JsonOfLength(4096 + 4096 + 10);
  FakeStream stream;
  stream.chunks = Split(json, {4096, 4096, 10});
  answer = [&stream](Abi::HttpResponseRecord& response) { stream.AttachTo(response); };

  const RemotingTypedResult<Notice> result = TypedCall<Notice>(context, HttpMethod::Get, kPath);

  ASSERT_TRUE(result.ok) << result.errorText;
  EXPECT_EQ(result.value.id, std::string(json.size() - 9, 'x'));
  EXPECT_EQ(stream.reads, 3u);
  EXPECT_THAT(host.calls, ElementsAre("Call"));  // full chunks: no yield
  EXPECT_EQ(stream.releases, 1);
  EXPECT_EQ(hostReleases, 1);
}

TEST_F(RemotingTest, ShortChunkWithMoreSetYieldsOnceBeforeReadingOn) {
  const std::string json = JsonOfLength(30);
  FakeStream stream;
  stream.chunks = Split(json, {10, 15, 5});
  answer = [&stream](Abi::HttpResponseRecord& response) { stream.AttachTo(response); };

  const RemotingTypedResult<Notice> result = TypedCall<Notice>(context, HttpMethod::Get, kPath);

  ASSERT_TRUE(result.ok) << result.errorText;
  EXPECT_THAT(host.calls, ElementsAre("Call", "BeginWait:Wait: yield:0", "Pump", "EndWait",
                                      "BeginWait:Wait: yield:0", "Pump", "EndWait"));
}

TEST_F(RemotingTest, StreamReadErrorFailsWithCodeZero) {
  FakeStream stream;
  stream.chunks = {std::string(4096, ' '), "{}"};
  stream.failAt = 1;
  answer = [&stream](Abi::HttpResponseRecord& response) { stream.AttachTo(response); };

  const RemotingTypedResult<Notice> result = TypedCall<Notice>(context, HttpMethod::Get, kPath);

  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.errorText,
            "Error reading streamed response for GET /hxa-login/v1/login-data-packet: Stream "
            "read error");
  EXPECT_EQ(stream.releases, 1);
  EXPECT_EQ(hostReleases, 1);
}

TEST_F(RemotingTest, StreamReaderClaimingMoreThanTheBufferIsAReadError) {
  struct Liar {
    static bool HXA_CDECL Read(void*, char*, std::uint32_t* length, bool* more) {
      *length = 5000;
      *more = false;
      return true;
    }
  };
  answer = [](Abi::HttpResponseRecord& response) {
    response.stream = &response;
    response.streamRead = &Liar::Read;
  };

  const RemotingTypedResult<Notice> result = TypedCall<Notice>(context, HttpMethod::Get, kPath);

  EXPECT_EQ(result.errorText,
            "Error reading streamed response for GET /hxa-login/v1/login-data-packet: Stream "
            "read error");
}

TEST_F(RemotingTest, StreamedTextThatIsNotJsonFailsWithTheReadersMessage) {
  FakeStream stream;
  stream.chunks = {"{\"id\": }"};
  answer = [&stream](Abi::HttpResponseRecord& response) { stream.AttachTo(response); };

  const RemotingTypedResult<Notice> result = TypedCall<Notice>(context, HttpMethod::Get, kPath);

  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.errorText,
            "Error reading streamed response for GET /hxa-login/v1/login-data-packet: Error: "
            "Invalid value. at offset 7.");
}

}  // namespace
}  // namespace Kavren
