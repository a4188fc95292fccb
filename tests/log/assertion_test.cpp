// Tests of the assertion report's layout and of how it reaches the log.
#include "log/assertion.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "log/log_manager.h"
#include "support/capturing_log_target.h"

namespace Kavren {
namespace {

struct ReportCase {
  const char* name;
  const char* expression;
  const char* description;
  const char* file;
  std::int32_t line;
  const char* function;
  const char* expected;
};

class AssertionReportTest : public ::testing::TestWithParam<ReportCase> {};

TEST_P(AssertionReportTest, BuildsTheFixedLayout) {
  const ReportCase& c = GetParam();
  char text[4096];
  const std::size_t length = FormatAssertionReport(c.expression, c.description, c.file, c.line,
                                                   c.function, text, sizeof text);
  EXPECT_STREQ(text, c.expected);
  EXPECT_EQ(length, std::strlen(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, AssertionReportTest,
    ::testing::Values(
        ReportCase{"AllButDescription", "x", "", "a", 12, "f",
                   "Assertion failed!\n\nFile: a\nLine: 12\n\nFunction: f\n\nExpression: x"},
        ReportCase{"OnlyDescription", "", "why", "", 0, "",
                   "Assertion failed!\n\n\n\nDescription: why"},
        ReportCase{"Identifier", "ALE-6D828C10", nullptr, nullptr, 0, nullptr,
                   "Assertion failed!\n\nExpression: ALE-6D828C10"},
        ReportCase{"Everything", "e", "d", "src/x.cpp", -3, "Run",
                   "Assertion failed!\n\nFile: src/x.cpp\nLine: -3\n\nFunction: Run\n\n"
                   "Expression: e\n\nDescription: d"},
        ReportCase{"Nothing", nullptr, nullptr, nullptr, 0, nullptr, "Assertion failed!\n\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AssertionReport, CutsToTheBuffer) {
  char text[12];
  EXPECT_EQ(FormatAssertionReport("x", "", "", 0, "", text, sizeof text), 11u);
  EXPECT_STREQ(text, "Assertion f");
}

TEST(AssertionReport, LogsOneErrorRecordInGroupDbg) {
  const LogApi& api = GetLogApi();
  api.Acquire();
  for (LogTargetEntry* entry : {api.StdErrTarget(), api.DebuggerTarget()}) entry->Detach(entry);
  {
    Testing::CapturingLogTarget target;
    LogTargetSettings settings;
    settings.level = kLogLevelOkay;
    settings.pattern = "#L|#G|#M";
    Configure(target, settings);
    // The description passes through "%s", so a percent sign stays as it is.
    ReportAssertion("ALE-EECF0606", "100% sure", nullptr, 0, nullptr);
    const auto records = target.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, kLogLevelError);
    EXPECT_EQ(records[0].groups, kLogGroupDbg);
    EXPECT_EQ(records[0].message,
              "Assertion failed!\n\nExpression: ALE-EECF0606\n\nDescription: 100% sure");
    EXPECT_EQ(records[0].line, " ERROR|DBG|" + records[0].message + "\n");
  }
  api.Release();
}

}  // namespace
}  // namespace Kavren
