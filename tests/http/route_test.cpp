// Route templates, matching, URL decoding, query parsing and endpoint function names.
#include "http/route.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "http/router.h"
#include "http/url.h"

namespace Kavren {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

struct Matched {
  bool matched = false;
  RouteCaptures captures;
  std::size_t length = 0;
};

Matched MatchPath(std::string_view urlTemplate, std::string_view path) {
  Matched result;
  result.matched = Route::Compile(urlTemplate).Value().Match(path, result.captures, result.length);
  return result;
}

TEST(Route, CompilesLiteralsPlaceholdersAndEscapes) {
  struct Row {
    const char* urlTemplate;
    bool literal;
    const char* text;
  };
  const Row rows[] = {
      {"/hxa-player-messaging/v1/notification", true, "/hxa-player-messaging/v1/notification"},
      {"/a/{id}/b", false, "/a/([^/]*)/b"},
      {"/a/{+rest}", false, "/a/(.*)"},
      {"/a{#frag}", false, "/a#(.*)"},
      {"/v1.0/x+y/{id}", false, "/v1\\.0/x\\+y/([^/]*)"},
      {"^$.*+?()[]|\\{id}", false, "\\^\\$\\.\\*\\+\\?\\(\\)\\[\\]\\|\\\\([^/]*)"},
      // Only the very first character of a placeholder selects its kind.
      {"/{a+b}", false, "/([^/]*)"},
  };
  for (const Row& row : rows) {
    const Route route = Route::Compile(row.urlTemplate).Value();
    EXPECT_EQ(route.IsLiteral(), row.literal) << row.urlTemplate;
    EXPECT_EQ(route.Text(), row.text) << row.urlTemplate;
  }
  const Route route = Route::Compile("/{a+b}/{+r}/{#f}").Value();
  ASSERT_EQ(route.Placeholders().size(), 3u);
  EXPECT_EQ(route.Placeholders()[0].name, "a+b");
  EXPECT_EQ(route.Placeholders()[0].kind, PlaceholderKind::kSimple);
  EXPECT_EQ(route.Placeholders()[1].name, "r");
  EXPECT_EQ(route.Placeholders()[1].kind, PlaceholderKind::kReserved);
  EXPECT_EQ(route.Placeholders()[2].name, "f");
  EXPECT_EQ(route.Placeholders()[2].kind, PlaceholderKind::kFragment);
}

TEST(Route, MatchesWholePathsAndDecodesCaptures) {
  const char* acknowledge = "/hxa-player-messaging/v1/notification/{id}/acknowledge";
  Matched m = MatchPath(acknowledge, "/hxa-player-messaging/v1/notification/42/acknowledge");
  ASSERT_TRUE(m.matched);
  EXPECT_THAT(m.captures, ElementsAre(Pair("id", "42")));
  EXPECT_EQ(m.length, 2u);

  m = MatchPath(acknowledge, "/hxa-player-messaging/v1/notification/a%20b/acknowledge");
  ASSERT_TRUE(m.matched);
  EXPECT_THAT(m.captures, ElementsAre(Pair("id", "a b")));

  // Anchored at both ends; a simple placeholder stays inside one segment.
  EXPECT_FALSE(
      MatchPath(acknowledge, "/hxa-player-messaging/v1/notification/42/acknowledgex").matched);
  EXPECT_FALSE(
      MatchPath(acknowledge, "x/hxa-player-messaging/v1/notification/42/acknowledge").matched);
  EXPECT_FALSE(MatchPath("/files/{rest}", "/files/a/b/c").matched);
  m = MatchPath("/files/{+rest}", "/files/a/b/c");
  ASSERT_TRUE(m.matched);
  EXPECT_THAT(m.captures, ElementsAre(Pair("rest", "a/b/c")));
  // An empty segment is a capture too.
  m = MatchPath("/a/{id}/b", "/a//b");
  ASSERT_TRUE(m.matched);
  EXPECT_THAT(m.captures, ElementsAre(Pair("id", "")));
  m = MatchPath("/page{#part}", "/page#top");
  ASSERT_TRUE(m.matched);
  EXPECT_THAT(m.captures, ElementsAre(Pair("part", "top")));
  // A later placeholder of the same name wins.
  m = MatchPath("/{x}/{x}", "/one/two");
  ASSERT_TRUE(m.matched);
  EXPECT_THAT(m.captures, ElementsAre(Pair("x", "two")));
  // Escaped characters match only themselves.
  EXPECT_TRUE(MatchPath("/v1.0/{id}", "/v1.0/7").matched);
  EXPECT_FALSE(MatchPath("/v1.0/{id}", "/v1x0/7").matched);
}

TEST(Route, LiteralRoutesNeverMatchAQuery) {
  EXPECT_TRUE(MatchPath("/a/b", "/a/b").matched);
  EXPECT_FALSE(MatchPath("/a/b", "/a/b?x=1").matched);
  EXPECT_FALSE(MatchPath("/a/b", "/a/b/").matched);
}

TEST(Route, LongPathsNeverReachTheExpression) {
  const std::string prefix = "/files/";
  const std::string atLimit = prefix + std::string(kMaxExpressionPathLength - prefix.size(), 'a');
  EXPECT_TRUE(MatchPath("/files/{+rest}", atLimit).matched);
  EXPECT_FALSE(MatchPath("/files/{+rest}", atLimit + "a").matched);
  // Far beyond what the recursive matcher could take on a small stack.
  EXPECT_FALSE(MatchPath("/files/{+rest}", prefix + std::string(200000, 'a')).matched);
  // Literal routes compare texts and have no such limit.
  const std::string literal = prefix + std::string(5000, 'b');
  EXPECT_TRUE(MatchPath(literal, literal).matched);
}

TEST(Url, DecodesPlusAndPercentEscapes) {
  struct Row {
    const char* input;
    std::string expected;
  };
  const Row rows[] = {
      {"a+b", "a b"},
      {"a%20b", "a b"},
      {"%41%62", "Ab"},
      {"%2f%2F", "//"},
      {"%00x", std::string("\0x", 2)},
      // A percent sign without two hexadecimal digits is kept with what follows.
      {"100%", "100%"},
      {"100%2", "100%2"},
      {"%zz", "%zz"},
      {"%2g", "%2g"},
      {"%%41", "%A"},
  };
  for (const Row& row : rows) EXPECT_EQ(UrlDecode(row.input), row.expected) << row.input;
}

TEST(Url, ParsesQueryPairs) {
  EXPECT_TRUE(ParseQuery("/a/b").empty());
  EXPECT_THAT(ParseQuery("/a?a=1&a=2"), ElementsAre(Pair("a", "2")));
  EXPECT_THAT(ParseQuery("/a?flag&x=1=2&y="),
              ElementsAre(Pair("flag", ""), Pair("x", "1=2"), Pair("y", "")));
  EXPECT_THAT(ParseQuery("/a?na+me=v%26w&q=?"), ElementsAre(Pair("na me", "v&w"), Pair("q", "?")));
}

TEST(EndpointFunctionName, IsDerivedFromMethodAndTemplate) {
  struct Row {
    HttpMethod method;
    const char* urlTemplate;
    const char* name;
  };
  const Row rows[] = {
      {HttpMethod::Get, "/hxa-player-messaging/v1/notification",
       "GetHxaPlayerMessagingV1Notification"},
      {HttpMethod::Delete, "/hxa-player-messaging/v1/notification/{id}/acknowledge",
       "DeleteHxaPlayerMessagingV1NotificationByIdAcknowledge"},
      {HttpMethod::Options, "/a_b.c!d+e/{+rest}", "OptionsABCDEByRest"},
      {HttpMethod::Put, "/lower/camelCase", "PutLowerCamelCase"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(EndpointFunctionName(row.method, row.urlTemplate), row.name) << row.urlTemplate;
  }
}

}  // namespace
}  // namespace Kavren
