// Tests of line rendering, level tags, group text and time layouts.
#include "log/log_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "log/log_groups.h"

namespace Kavren {
namespace {

LogRecord MakeRecord(std::int32_t level, std::uint64_t groups, const char* message) {
  LogRecord record{};
  record.time = LogTime{2026, 3, 7, 9, 5, 4, 21};
  record.level = level;
  record.groups = groups;
  std::snprintf(record.message, sizeof record.message, "%s", message);
  return record;
}

std::string Render(const char* pattern, const LogRecord& record, std::size_t capacity = 4096) {
  std::string out(capacity, '\xAA');
  const std::size_t length = RenderLogLine(pattern, record, out.data(), capacity);
  EXPECT_EQ(length, std::strlen(out.c_str()));
  return out.c_str();
}

struct PatternCase {
  const char* pattern;
  std::int32_t level;
  std::uint64_t groups;
  const char* message;
  const char* expected;
};

class RenderLineTest : public ::testing::TestWithParam<PatternCase> {};

TEST_P(RenderLineTest, RendersPattern) {
  const PatternCase& c = GetParam();
  EXPECT_EQ(Render(c.pattern, MakeRecord(c.level, c.groups, c.message)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, RenderLineTest,
    ::testing::Values(
        PatternCase{"#M", 1, 0, "abc", "abc\n"}, PatternCase{"#M", 1, 0, "abc\n", "abc\n"},
        PatternCase{"#M", 1, 0, "", "\n"}, PatternCase{"", 1, 0, "abc", "\n"},
        PatternCase{"#D| #L| #G| #M", 1, kLogGroupDbg | kLogGroupNet, "hello",
                    "2026-03-07T09:05:04.021|   WARN| DBG;NET| hello\n"},
        PatternCase{"#D| #L| #G| #M", 2, 0, "x", "2026-03-07T09:05:04.021|  ERROR| | x\n"},
        PatternCase{"#L|#L|#L|#L", 0, 0, "", "  OKAY|  OKAY|  OKAY|  OKAY\n"},
        PatternCase{"#L", 3, 0, "", "ALWAYS\n"}, PatternCase{"#L", 7, 0, "", "  ????\n"},
        PatternCase{"#L", -1, 0, "", "  ????\n"}, PatternCase{"a##b", 1, 0, "", "a#b\n"},
        PatternCase{"#x#%#|", 1, 0, "", "x%|\n"}, PatternCase{"abc#", 1, 0, "m", "abc\n"},
        PatternCase{"#M#", 1, 0, "m\n", "m\n"}, PatternCase{"#G", 1, kLogGroupGen, "", "GEN\n"},
        PatternCase{"#G", 1, kLogGroupDbg | kLogGroupGen | kLogGroupTst, "", "DBG;GEN;TST\n"}));

TEST(RenderLine, ProcessThreadAndClockTokens) {
  const LogRecord record = MakeRecord(1, 0, "m");
  char thread[32];
  std::snprintf(thread, sizeof thread, "%p", Platform::CurrentThreadHandle());
  EXPECT_EQ(Render("#T", record), std::string(thread) + "\n");
  EXPECT_EQ(Render("#E", record), std::string(LogProcessName()) + "\n");
  // Seconds since the clock's first use: six digits, a dot and three digits.
  EXPECT_THAT(Render("#H", record), ::testing::MatchesRegex("[0-9]{6}\\.[0-9]{3}\n"));
}

TEST(RenderLine, CutsLongLinesAndStillEndsThem) {
  std::string message(5000, 'm');
  LogRecord record = MakeRecord(1, 0, "");
  std::snprintf(record.message, sizeof record.message, "%s", message.c_str());
  const std::string line = Render("#M#M", record);
  // 4094 characters of text, then the newline: two are kept for the line end.
  ASSERT_EQ(line.size(), 4095u);
  EXPECT_EQ(line.back(), '\n');
  EXPECT_EQ(line.find_first_not_of('m'), 4094u);

  // A small buffer: capacity 8 leaves 6 characters of text.
  EXPECT_EQ(Render("#D", record, 8), "2026-0\n");
  EXPECT_EQ(Render("#G", MakeRecord(1, kLogGroupDbg | kLogGroupGen | kLogGroupXtr, ""), 8),
            "DBG;GE\n");
}

TEST(RenderLine, RefusesBuffersWithoutRoomForTheLineEnd) {
  char out[2] = {'x', 'x'};
  EXPECT_EQ(RenderLogLine("#M", MakeRecord(1, 0, "abc"), out, sizeof out), 0u);
  EXPECT_EQ(out[0], '\0');
}

TEST(LogTime, FormatsBothLayouts) {
  const LogTime time{987, 12, 31, 23, 59, 58, 7};
  char out[64];
  EXPECT_EQ(FormatLogTime(time, out, sizeof out), 23u);
  EXPECT_STREQ(out, "0987-12-31T23:59:58.007");
  EXPECT_EQ(FormatLogTimeForFileName(time, out, sizeof out), 19u);
  EXPECT_STREQ(out, "0987-12-31T23-59-58");
  EXPECT_EQ(FormatLogTime(time, out, 5), 4u);
  EXPECT_STREQ(out, "0987");
}

TEST(LogGroups, RegistersByThreeCharacterTag) {
  EXPECT_EQ(LastLogGroupInUse(), 7);
  EXPECT_EQ(RegisterLogGroup("DBG"), kLogGroupDbg);
  EXPECT_EQ(RegisterLogGroup("TSTX"), kLogGroupTst);  // only three characters count
  EXPECT_EQ(RegisterLogGroup("dbg"), 1ULL << 8);      // case-sensitive: a new tag
  EXPECT_EQ(LastLogGroupInUse(), 8);
  EXPECT_EQ(RegisterLogGroup("dbg"), 1ULL << 8);
  EXPECT_EQ(RegisterLogGroup(""), 0u);
  EXPECT_EQ(RegisterLogGroup(nullptr), 0u);
  EXPECT_EQ(LastLogGroupInUse(), 8);

  char text[64];
  LogGroupsToText((1ULL << 8) | kLogGroupMem | (1ULL << 40), text, sizeof text);
  EXPECT_STREQ(text, "MEM;dbg;???");

  // Up to slot 63: bit 63 lands in the high half; a 65th tag gets no bit.
  std::uint64_t last = 0;
  for (int i = 9; i < kLogGroupSlots; ++i) {
    const std::string tag = "G" + std::to_string(i);
    last = RegisterLogGroup(tag.c_str());
    ASSERT_EQ(last, 1ULL << i) << tag;
  }
  EXPECT_EQ(last, 1ULL << 63);
  EXPECT_EQ(RegisterLogGroup("ZZZ"), 0u);
  EXPECT_EQ(LastLogGroupInUse(), 63);
  EXPECT_STREQ(LogGroupTag(63), "G63");
  EXPECT_STREQ(LogGroupTag(64), "???");
}

TEST(LogGroups, TextStopsWhenFull) {
  char text[6];
  EXPECT_EQ(LogGroupsToText(kLogGroupDbg | kLogGroupGen, text, sizeof text), 5u);
  EXPECT_STREQ(text, "DBG;G");
  EXPECT_EQ(LogGroupsToText(0, text, sizeof text), 0u);
  EXPECT_STREQ(text, "");
}

}  // namespace
}  // namespace Kavren
