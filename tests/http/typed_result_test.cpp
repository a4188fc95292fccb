// Typed results: failure constructors, resetting and their outcome.
#include "http/typed_result.h"

#include <gtest/gtest.h>

#include <string>

namespace Kavren {
namespace {

TEST(RemotingTypedResult, FailureConstructorsUseTheirDefaultMessages) {
  struct Row {
    RemotingTypedResult<int> result;
    std::int32_t status;
    const char* message;
  };
  const Row rows[] = {
      {RemotingTypedResult<int>::NotFound(), 404, "Not found"},
      {RemotingTypedResult<int>::NotFound("No notification 7"), 404, "No notification 7"},
      {RemotingTypedResult<int>::InternalError(), 500, "Internal server error"},
      {RemotingTypedResult<int>::InternalError("store broken"), 500, "store broken"},
      {RemotingTypedResult<int>::FromFailure(Failure{503, "down"}), 503, "down"},
  };
  for (const Row& row : rows) {
    EXPECT_FALSE(row.result.ok);
    EXPECT_EQ(row.result.status, row.status);
    EXPECT_EQ(row.result.errorText, row.message);
    const MaybeType<Failure, void> outcome = row.result.Outcome();
    ASSERT_TRUE(outcome.Failed());
    EXPECT_EQ(outcome.GetFailure().code, row.status);
    EXPECT_EQ(outcome.GetFailure().message, row.message);
  }
}

TEST(RemotingTypedResult, SetFailureResetsEverythingElse) {
  RemotingTypedResult<std::string> result(std::string("value"));
  result.contentType = "application/json";
  result.headers = {{"a", "b"}};
  result.format = 1;
  result.formatFlag = 1;
  EXPECT_TRUE(result.ok);
  EXPECT_TRUE(result.Outcome().Succeeded());

  result.SetFailure(409, "conflict");

  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.value, "");
  EXPECT_EQ(result.contentType, "");
  EXPECT_TRUE(result.headers.empty());
  EXPECT_EQ(result.format, 0);
  EXPECT_EQ(result.formatFlag, 0);
  EXPECT_EQ(result.status, 409);
  EXPECT_EQ(result.errorText, "conflict");
}

}  // namespace
}  // namespace Kavren
