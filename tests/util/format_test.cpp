// The numbered-placeholder formatter: placeholders, argument kinds, stop rules, cutting.
#include "util/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <string_view>

namespace Kavren {
namespace {

struct Row {
  std::string format;
  std::string expected;
};

// One argument kind at a time: every row formats the same value with its own text.
template <class T>
void ExpectRows(const T& value, std::initializer_list<Row> rows) {
  for (const Row& row : rows) {
    EXPECT_EQ(Format(row.format.c_str(), value), row.expected) << "format: " << row.format;
  }
}

TEST(Format, PlaceholdersAndSequentialCounter) {
  EXPECT_EQ(Format("%1 (%2)", "Not found", 404), "Not found (404)");
  EXPECT_EQ(Format("%2 %1", "a", "b"), "b a");
  // Numbered placeholders leave the sequential counter alone.
  EXPECT_EQ(Format("%1 %s", "a", "b"), "a a");
  EXPECT_EQ(Format("%2 %s %s", "a", "b"), "b a b");
  EXPECT_EQ(Format("%%1", 7), "%1");
  EXPECT_EQ(Format("100%% of %1", 3), "100% of 3");
  EXPECT_EQ(Format("%1.%2.%3", 1, 2, 3), "1.2.3");
  EXPECT_EQ(Format("%1$x %1 %1$s", 255), "ff 255 255");
  EXPECT_EQ(Format("%1$*2$d|", 42, 5), "   42|");
  EXPECT_EQ(Format("no placeholders"), "no placeholders");
  EXPECT_EQ(Format("%1", "UTF-8 \xc3\xa9 passes"), "UTF-8 \xc3\xa9 passes");
}

TEST(Format, NumberBeyondCountIsAWidth) {
  // 3 is not a position among two arguments: it is a width, the argument sequential.
  EXPECT_EQ(Format("%3s|", "a", "b"), "  a|");
  EXPECT_EQ(Format("%3d %s", 7, "b"), "  7 b");
  // The character after the width is the conversion letter, whatever it is; one that
  // is not in the kind's set becomes its default.
  EXPECT_EQ(Format("[%3]", "a", "b"), "[  a");
  // At the end of the text the placeholder's last character is replaced.
  EXPECT_EQ(Format("%3", "a", "b"), "a");
  EXPECT_EQ(Format("%35", "a", "b"), "  a");  // "%35" becomes "%3s"
  // A replaced `*` has still taken its argument; the value never reads it as text.
  EXPECT_EQ(Format("%*", 5, "x"), "x");
  EXPECT_EQ(Format("%*.*", 5, 1, "xyz"), "     ");  // "%*.s": width 5, precision 0
}

TEST(Format, PercentAtEndPrintsNextArgumentInDefaultForm) {
  EXPECT_EQ(Format("abc %", 7), "abc 7");
  EXPECT_EQ(Format("%s %", "x", std::int64_t{-5000000000}), "x -5000000000");
  EXPECT_EQ(Format("%1 %", "x", "y"), "x x");  // %1 did not advance the counter
  EXPECT_EQ(Format("abc %"), "abc ");
}

TEST(Format, ConversionNWritesNothing) {
  int target = 12345;
  EXPECT_EQ(Format("a%1$nb", target), "ab");
  EXPECT_EQ(Format("a%nb%s", "x", "y"), "aby");  // %n still takes its argument
  EXPECT_EQ(target, 12345);
}

TEST(Format, StopsAtMissingArgument) {
  // A number beyond the count is a width, so "%2 " prints the next sequential
  // argument; "%3 " then needs a second one and stops.
  EXPECT_EQ(Format("x %1 %2 %3 y", "a"), "x a  a");
  EXPECT_EQ(Format("%s %s %s", "a", "b"), "a b ");
  EXPECT_EQ(Format("before %s after"), "before ");
  EXPECT_EQ(Format("a%5$db", 1, 2), "a");  // an explicit position beyond the arguments
}

TEST(Format, StarWidthAndPrecision) {
  EXPECT_EQ(Format("%*d|", 5, 42), "   42|");
  EXPECT_EQ(Format("%-*d|", 5, 42), "42   |");
  EXPECT_EQ(Format("%*d|", -5, 42), "42   |");  // a negative width aligns left
  EXPECT_EQ(Format("%.*f", 2, 3.14159), "3.14");
  EXPECT_EQ(Format("%.*f", -1, 0.5), "0.500000");  // negative precision: none given
  EXPECT_EQ(Format("%3$*1$.*2$f", 8, 2, 3.14159), "    3.14");
  EXPECT_EQ(Format("%*s|", 4, "ab"), "  ab|");
  EXPECT_EQ(Format("%.*s|", 1u, std::string("ab")), "a|");
  EXPECT_EQ(Format("%*c|", 'A', 'x'), std::string(64, ' ') + "x|");  // a char is an integer
  // 64-bit widths use their low 32 bits.
  EXPECT_EQ(Format("%*d|", std::int64_t{0x100000003}, 1), "  1|");
}

TEST(Format, StarStopRules) {
  EXPECT_EQ(Format("a%*sb", "x", "y"), "a");   // text is not an integer kind
  EXPECT_EQ(Format("a%.*fb", 2.0, 1.0), "a");  // nor is a double
  EXPECT_EQ(Format("a%*5$db", 1, 2), "a");     // no fifth argument
  EXPECT_EQ(Format("a%*db", 3), "a");          // the value's argument is missing
}

TEST(Format, SpecificationLimitStopsFormatting) {
  // '%', 57 flags and the conversion make 59 characters: still accepted.
  EXPECT_EQ(Format(("ab%" + std::string(57, '-') + "d|").c_str(), 1), "ab1|");
  // One flag more would make the 60th character.
  EXPECT_EQ(Format(("ab%" + std::string(58, '-') + "d|").c_str(), 1), "ab");
  EXPECT_EQ(Format(("ab%1$" + std::string(59, '0') + "d").c_str(), 1), "ab");
}

TEST(Format, OutputIsCutAt4095) {
  const std::string long_text(5000, 'x');
  EXPECT_EQ(Format("%1", long_text), std::string(4095, 'x'));
  EXPECT_EQ(Format(long_text.c_str()), std::string(4095, 'x'));
  EXPECT_EQ(Format("%1%2", std::string(4094, 'a'), 12345), std::string(4094, 'a') + "1");
  // Huge widths and precisions are cut like any other output.
  EXPECT_EQ(Format("%99999999999999999999d", 1), std::string(4095, ' '));
  EXPECT_EQ(Format("%-2147483647d|", 1), "1" + std::string(4094, ' '));
  EXPECT_EQ(Format("%.99999999f", 1.0), "1." + std::string(4093, '0'));
  EXPECT_EQ(Format("%.5000s|", "ab"), "ab|");
}

TEST(Format, ToBufferTerminatesAndCounts) {
  char buffer[8];
  EXPECT_EQ(FormatInto(buffer, 4, "abcdef"), 3u);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(FormatInto(buffer, 4, "%1", 12345), 3u);
  EXPECT_STREQ(buffer, "123");
  EXPECT_EQ(FormatInto(buffer, 4, "%1$-6s|", "a"), 3u);
  EXPECT_STREQ(buffer, "a  ");
  EXPECT_EQ(FormatInto(buffer, 1, "abc"), 0u);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(FormatInto(buffer, 0, "abc"), 0u);
  EXPECT_EQ(FormatInto(buffer, sizeof buffer, nullptr, 1), 0u);
  EXPECT_STREQ(buffer, "");
}

TEST(Format, TextKinds) {
  const char* text = "abc";
  for (const auto& [format, expected] :
       std::initializer_list<std::pair<const char*, const char*>>{{"%1", "abc"},
                                                                  {"%1$d", "abc"},
                                                                  {"%1$-5s|", "abc  |"},
                                                                  {"%5s", "  abc"},
                                                                  {"%1$.2s", "ab"},
                                                                  {"%ls", "abc"},
                                                                  {"%05s", "  abc"}}) {
    EXPECT_EQ(Format(format, text), expected) << format;
    EXPECT_EQ(Format(format, std::string(text)), expected) << format;
    EXPECT_EQ(Format(format, std::string_view("abcdef", 3)), expected) << format;
    EXPECT_EQ(Format(format, FailureMessage::Constant(text)), expected) << format;
  }
  EXPECT_EQ(Format("%1", static_cast<const char*>(nullptr)), "(null)");
  EXPECT_EQ(Format("%1|", std::string("a\0b", 3)), std::string("a\0b|", 4));
  char mutable_text[] = "xy";
  EXPECT_EQ(Format("%1", mutable_text), "xy");
}

TEST(Format, CharacterKind) {
  ExpectRows('A', {{"%1", "A"},
                   {"%1$d", "65"},
                   {"%1$x", "41"},
                   {"%1$o", "101"},
                   {"%1$s", "A"},
                   {"%1$g", "A"},
                   {"%1$3c|", "  A|"},
                   {"%1$lc", "A"}});
}

TEST(Format, Int32Kind) {
  ExpectRows(-1, {{"%1", "-1"},
                  {"%1$i", "-1"},
                  {"%1$u", "4294967295"},
                  {"%1$x", "ffffffff"},
                  {"%1$s", "-1"},
                  {"%1$f", "-1"},
                  {"%1$05d", "-0001"},
                  {"%1$+d", "-1"},
                  {"%1$lld", "-1"},  // a wrong modifier never reads another type
                  {"%1$jd", "-1"}});
  ExpectRows(66, {{"%1$c", "B"}, {"%1$#x", "0x42"}, {"%1$+d", "+66"}, {"%1$ d", " 66"}});
  ExpectRows(300, {{"%1$hhd", "44"}, {"%1$hx", "12c"}});
}

TEST(Format, UInt32Kind) {
  ExpectRows(4294967295u, {{"%1", "4294967295"},
                           {"%1$d", "-1"},
                           {"%1$X", "FFFFFFFF"},
                           {"%1$s", "4294967295"},
                           {"%1$lu", "4294967295"}});
}

TEST(Format, Int64Kinds) {
  ExpectRows(std::int64_t{-5000000000}, {{"%1", "-5000000000"},
                                         {"%1$lld", "-5000000000"},
                                         {"%1$d", "-5000000000"},
                                         {"%1$s", "-5000000000"},
                                         {"%1$hhd", "0"}});
  ExpectRows(std::int64_t{0x123456789},
             {{"%1$llx", "123456789"}, {"%1$x", "123456789"}, {"%1$c", "\x89"}});
  ExpectRows(UINT64_MAX, {{"%1", "18446744073709551615"},
                          {"%1$d", "-1"},
                          {"%1$llX", "FFFFFFFFFFFFFFFF"},
                          {"%1$20llu|", "18446744073709551615|"}});
}

TEST(Format, DoubleKind) {
  ExpectRows(0.5, {{"%1", "0.5"},
                   {"%1$.3f", "0.500"},
                   {"%1$d", "0.5"},
                   {"%1$s", "0.5"},
                   {"%1$e", "5.000000e-01"},
                   {"%1$E", "5.000000E-01"},
                   {"%1$a", "0x1p-1"},
                   {"%1$G", "0.5"},
                   {"%1$F", "0.500000"},
                   {"%1$Lf", "0.500000"},
                   {"%1$+08.2f", "+0000.50"},
                   {"%1$#g", "0.500000"}});
  EXPECT_EQ(Format("%1", 1e300), "1e+300");
  EXPECT_EQ(Format("%1", 2.5f), "2.5");
}

TEST(Format, OtherIntegerTypesBindToTheKinds) {
  EXPECT_EQ(Format("%1 %2", short{-3}, static_cast<unsigned short>(65535)), "-3 65535");
  EXPECT_EQ(Format("%1 %2", std::int8_t{-3}, std::uint8_t{200}), "-3 200");
  EXPECT_EQ(Format("%1 %2", LONG_MIN, ULONG_MAX),
            std::to_string(LONG_MIN) + " " + std::to_string(ULONG_MAX));
  EXPECT_EQ(Format("%1 %2", std::size_t{42}, true), "42 1");
  enum class Color : std::uint8_t { kRed = 2 };
  EXPECT_EQ(Format("%1", Color::kRed), "2");
}

TEST(Format, OutcomesFailuresAndRecords) {
  EXPECT_EQ(Format("%1", Outcome()), "Success");
  EXPECT_EQ(Format("%1", Outcome(Failure{404, "Not found"})), "Not found (404)");
  EXPECT_EQ(Format("%1", Outcome(Failure{-7, FailureMessage()})), " (-7)");
  EXPECT_EQ(Format("[%1$-12s]", Outcome()), "[Success     ]");
  EXPECT_EQ(Format("[%1$.6s]", Outcome(Failure{500, "Internal"})), "[Intern]");
  EXPECT_EQ(Format("%1", Failure{400, "Bad"}), "Bad (400)");
  EXPECT_EQ(Format("%1", PluginType{"backend", ""}), "backend:");
  EXPECT_EQ(Format("%1$6s|", PluginType{"a", "b"}), "   a:b|");
  EXPECT_EQ(Format("%1", PluginApiVersion{18, 0, 0, "beta", "7"}), "18.0.0-beta+7");
  EXPECT_EQ(Format("%1$x", PluginApiVersion{1, 2, 3, "", ""}), "1.2.3");
}

TEST(VersionText, LabelsAreAppendedWhenSet) {
  const struct {
    PluginApiVersion version;
    const char* expected;
  } rows[] = {
      {{10, 0, 1, "", "abc"}, "10.0.1+abc"},
      {{10, 0, 1, "", ""}, "10.0.1"},
      {{1, 2, 3, "beta", ""}, "1.2.3-beta"},
      {{18, 0, 0, "beta", "7"}, "18.0.0-beta+7"},
      {{18, 0, 0, "", "7"}, "18.0.0+7"},
      {{UINT32_MAX, UINT32_MAX, UINT32_MAX, "", ""}, "4294967295.4294967295.4294967295"},
  };
  for (const auto& row : rows) EXPECT_EQ(VersionText(row.version), row.expected);
}

}  // namespace
}  // namespace Kavren
