// The response record: filling it from the response settings and releasing it.
#include "http/response.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "binding/host_value.h"
#include "binding/registry.h"
#include "util/accounting.h"

namespace Kavren::ResponseTesting {
struct Head {
  std::string id;
};
struct Unregistered {
  int x = 0;
};
}  // namespace Kavren::ResponseTesting

HXA_BINDING_STRUCT(Kavren::ResponseTesting::Head);
HXA_BINDING_STRUCT(Kavren::ResponseTesting::Unregistered);

namespace Kavren::ResponseTesting {
namespace {

using ::testing::UnorderedElementsAreArray;

// Forwards to the counting hooks and records every block freed while installed.
class FreeRecorder {
 public:
  FreeRecorder() {
    const Accounting::Hooks& base = Accounting::CountingHooks();
    hooks_ = base;
    hooks_.user = this;
    hooks_.free = [](void* user, void* block) {
      static_cast<FreeRecorder*>(user)->freed.push_back(block);
      Accounting::CountingHooks().free(nullptr, block);
    };
    previous_ = Accounting::InstallHooks(&hooks_);
  }
  ~FreeRecorder() { Accounting::InstallHooks(previous_); }

  std::vector<void*> freed;

 private:
  Accounting::Hooks hooks_{};
  const Accounting::Hooks* previous_ = nullptr;
};

// Packed fields are read by value: a reference to one may be misaligned.
template <class T>
T Field(T value) {
  return value;
}

Abi::HttpResponseRecord ZeroedResponse() {
  Abi::HttpResponseRecord response;
  std::memset(static_cast<void*>(&response), 0, sizeof(response));
  return response;
}

bool AllZero(const Abi::HttpResponseRecord& response) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&response);
  return std::all_of(bytes, bytes + sizeof(response), [](unsigned char b) { return b == 0; });
}

TEST(ReleaseResponse, FreesThreeHeadersAndTheArrayAndZeroesTheRecord) {
  FreeRecorder recorder;
  Abi::HttpResponseRecord response = ZeroedResponse();
  auto* headers =
      static_cast<Abi::HttpHeaderEntry*>(Accounting::Allocate(3 * sizeof(Abi::HttpHeaderEntry)));
  std::vector<void*> owned = {headers};
  for (int i = 0; i < 3; ++i) {
    headers[i].name = Accounting::DuplicateText(("X-Name-" + std::to_string(i)).c_str());
    headers[i].value = Accounting::DuplicateText(("value " + std::to_string(i)).c_str());
    owned.push_back(const_cast<char*>(headers[i].name));
    owned.push_back(const_cast<char*>(headers[i].value));
  }
  response.headers = headers;
  response.headerCount = 3;
  response.contentType = kResponseEmptyText;
  response.status = 200;
  response.format = Abi::kBodyFormatJson;
  response.release = &ReleaseResponse;

  response.release(&response);

  EXPECT_THAT(recorder.freed, UnorderedElementsAreArray(owned));  // six texts and the array
#if defined(__i386__)
  static_assert(sizeof(response) == 62);
#endif
  EXPECT_TRUE(AllZero(response));
}

TEST(ReleaseResponse, FreesErrorTextContentTypeAndBodyValue) {
  FreeRecorder recorder;
  Abi::HttpResponseRecord response = ZeroedResponse();
  response.errorText = Accounting::DuplicateText("boom");
  response.failed = 1;
  response.contentType = Accounting::DuplicateText("application/json");
  SetHostOwnedString(response.value, "body");
  const void* body = reinterpret_cast<const void*>(response.value.data);

  ReleaseResponse(&response);

  EXPECT_EQ(recorder.freed.size(), 3u);
  EXPECT_NE(std::find(recorder.freed.begin(), recorder.freed.end(), body), recorder.freed.end());
  EXPECT_TRUE(AllZero(response));
  ReleaseResponse(nullptr);  // ignored
}

// A stream whose release counts its calls.
struct CountedStream {
  int releases = 0;
  static void HXA_CDECL Release(void* stream) { ++static_cast<CountedStream*>(stream)->releases; }
  static bool HXA_CDECL Read(void*, char*, std::uint32_t* length, bool* more) {
    *length = 0;
    *more = false;
    return true;
  }
};

TEST(FillResponseRecord, CopiesAFailureAndTheSettingsAndHandsTheStreamOver) {
  CountedStream stream;
  Abi::HttpResponseRecord response = ZeroedResponse();
  {
    HttpResponseSettings settings;
    settings.result = Failure{409, "Already acknowledged"};
    settings.value.SetString("ignored on failure");
    settings.formatFlag = 1;
    settings.format = 7;  // not a body format: sent as 0
    settings.status = 409;
    settings.headers = {{"b-header", "2"}, {"a-header", "1"}};
    settings.stream =
        HttpResponseStream(&stream, &CountedStream::Read, &CountedStream::Release, 99);

    FillResponseRecord(settings, nullptr, response);
  }

  EXPECT_STREQ(Field(response.errorText), "Already acknowledged");
  EXPECT_EQ(Field(response.failed), 1);
  EXPECT_EQ(Field(response.value.type), Abi::kHostValueEmpty);
  EXPECT_EQ(Field(response.formatFlag), 1);
  EXPECT_EQ(Field(response.format), 0);
  EXPECT_EQ(Field(response.status), 409);
  EXPECT_EQ(Field(response.contentType), kResponseEmptyText);
  ASSERT_EQ(Field(response.headerCount), 2u);
  EXPECT_STREQ(response.headers[0].name, "a-header");
  EXPECT_STREQ(response.headers[0].value, "1");
  EXPECT_STREQ(response.headers[1].name, "b-header");
  EXPECT_STREQ(response.headers[1].value, "2");
  EXPECT_EQ(Field(response.stream), &stream);
  EXPECT_EQ(Field(response.streamSize), 99u);
  EXPECT_EQ(Field(response.streamRead), &CountedStream::Read);
  EXPECT_EQ(stream.releases, 0);  // the settings handed it over
  ASSERT_EQ(Field(response.release), &ReleaseResponse);

  response.streamRelease(response.stream);
  response.release(&response);
  EXPECT_EQ(stream.releases, 1);
  EXPECT_TRUE(AllZero(response));
}

TEST(FillResponseRecord, CopiesTheValueAndContentTypeOnSuccess) {
  Abi::HttpResponseRecord response = ZeroedResponse();
  HttpResponseSettings settings;
  settings.value.Member("id").SetString("42");
  settings.contentType = "application/x-msgpack";
  settings.format = Abi::kBodyFormatMessagePack;

  FillResponseRecord(settings, nullptr, response);

  EXPECT_EQ(Field(response.errorText), nullptr);
  EXPECT_EQ(Field(response.failed), 0);
  EXPECT_EQ(Field(response.format), Abi::kBodyFormatMessagePack);
  EXPECT_STREQ(Field(response.contentType), "application/x-msgpack");
  EXPECT_NE(Field(response.contentType), settings.contentType.c_str());
  ASSERT_EQ(Field(response.value.type), Abi::kHostValueStructure);
  ASSERT_EQ(HostMembers(response.value).size(), 1u);
  EXPECT_STREQ(HostMembers(response.value)[0].key, "id");
  EXPECT_EQ(HostText(HostMembers(response.value)[0].value), "42");
  EXPECT_EQ(Field(response.headers), nullptr);
  EXPECT_EQ(Field(response.stream), nullptr);

  response.release(&response);
  EXPECT_TRUE(AllZero(response));
}

TEST(HttpResponseStream, ReleasesAStreamThatWasNeverHandedOver) {
  CountedStream stream;
  {
    HttpResponseStream held(&stream, &CountedStream::Read, &CountedStream::Release, 0);
    HttpResponseStream moved(std::move(held));
    EXPECT_FALSE(held);
    EXPECT_TRUE(moved);
  }
  EXPECT_EQ(stream.releases, 1);
}

TEST(CopyResultToSettings, ConvertsAnOkValueAndCopiesTheSettings) {
  BindingRegistry registry;
  registry.RegisterStruct<Head>("Head").AddField("id", &Head::id);
  RemotingTypedResult<Head> result(Head{"n-1"});
  result.status = 200;
  result.contentType = "application/json";
  result.format = Abi::kBodyFormatJson;
  result.formatFlag = 1;
  result.headers = {{"etag", "1"}};
  HttpResponseSettings settings;

  EXPECT_TRUE(CopyResultToSettings(std::move(result), settings, registry));

  EXPECT_TRUE(settings.result.Succeeded());
  EXPECT_EQ(settings.value.Find("id").GetString(), "n-1");
  EXPECT_EQ(settings.status, 200);
  EXPECT_EQ(settings.contentType, "application/json");
  EXPECT_EQ(settings.format, Abi::kBodyFormatJson);
  EXPECT_EQ(settings.formatFlag, 1);
  EXPECT_EQ(settings.headers, (HttpHeaderMap{{"etag", "1"}}));
}

TEST(CopyResultToSettings, TakesTheFailureWithItsStatus) {
  BindingRegistry registry;
  HttpResponseSettings settings;
  settings.value.SetString("stale");

  EXPECT_TRUE(CopyResultToSettings(RemotingTypedResult<Head>::NotFound(), settings, registry));

  ASSERT_TRUE(settings.result.Failed());
  EXPECT_EQ(settings.result.GetFailure().code, 404);
  EXPECT_EQ(settings.result.GetFailure().message, "Not found");
  EXPECT_EQ(settings.status, 404);
  EXPECT_EQ(settings.value.Kind(), ValueKind::kEmpty);
}

TEST(CopyResultToSettings, UnconvertibleValueGivesStatus400AndNoValue) {
  BindingRegistry registry;
  RemotingTypedResult<Unregistered> result;
  result.status = 200;
  HttpResponseSettings settings;

  EXPECT_FALSE(CopyResultToSettings(std::move(result), settings, registry));

  EXPECT_TRUE(settings.result.Succeeded());
  EXPECT_EQ(settings.status, 400);
  EXPECT_EQ(settings.value.Kind(), ValueKind::kEmpty);
}

}  // namespace
}  // namespace Kavren::ResponseTesting
