// Failure messages and outcomes.
#include "util/failure.h"

#include <gtest/gtest.h>

#include <string>

namespace Kavren {
namespace {

TEST(FailureMessage, OwnedConstantAndAbsent) {
  static const char kText[] = "constant";
  FailureMessage constant = FailureMessage::Constant(kText);
  EXPECT_FALSE(constant.IsOwned());
  EXPECT_EQ(constant.CStr(), kText);  // the very same characters, not a copy

  std::string source = "owned";
  FailureMessage owned(source);
  source[0] = 'X';
  EXPECT_TRUE(owned.IsOwned());
  EXPECT_EQ(owned, "owned");

  FailureMessage copied(static_cast<const char*>(kText));
  EXPECT_TRUE(copied.IsOwned());
  EXPECT_NE(copied.CStr(), kText);

  for (const FailureMessage& absent : {FailureMessage(), FailureMessage::Constant(nullptr),
                                       FailureMessage(static_cast<const char*>(nullptr))}) {
    EXPECT_TRUE(absent.IsAbsent());
    EXPECT_STREQ(absent.CStr(), "");
    EXPECT_EQ(absent.View(), "");
  }
  EXPECT_FALSE(FailureMessage("").IsAbsent());
}

TEST(Outcome, SuccessAndFailure) {
  Outcome success;
  EXPECT_TRUE(success.Succeeded());
  EXPECT_EQ(success.GetFailure().code, 0);
  EXPECT_EQ(OutcomeText(success), "Success");

  Outcome failed = Failure{503, "Error response for GET /x: busy"};
  EXPECT_TRUE(failed.Failed());
  EXPECT_FALSE(static_cast<bool>(failed));
  EXPECT_EQ(failed.GetFailure().code, 503);
  EXPECT_EQ(OutcomeText(failed), "Error response for GET /x: busy (503)");
  // A failure with code 0 is still a failure.
  EXPECT_EQ(OutcomeText(Failure{0, FailureMessage::Constant("Stream read error")}),
            "Stream read error (0)");
}

TEST(MaybeType, HoldsAValueOrAFailure) {
  MaybeType<Failure, std::string> value = std::string("text");
  ASSERT_TRUE(value.Succeeded());
  EXPECT_EQ(value.Value(), "text");
  std::string moved = std::move(value).Value();
  EXPECT_EQ(moved, "text");

  MaybeType<Failure, std::string> failed = Failure{404, "Not found"};
  ASSERT_TRUE(failed.Failed());
  EXPECT_EQ(failed.GetFailure().message, "Not found");
  IgnoreOutcome(std::move(failed));
}

}  // namespace
}  // namespace Kavren
