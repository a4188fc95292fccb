// Tests of the hxa-value tool, run as a program over temporary files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/program_run.h"

namespace {

namespace fs = std::filesystem;

using Kavren::Testing::ProgramRun;

class HxaValueTest : public testing::Test {
 protected:
  void SetUp() override {
    tool_ = fs::path(HXA_BINARY_DIR) / "hxa-value";
    if (!fs::exists(tool_)) GTEST_SKIP() << "hxa-value is not built";
    dir_ = fs::temp_directory_path() / ("hxa-value-test-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  // The tool over `input` as its file, after `arguments`.
  ProgramRun Run(const std::string& input, const std::string& arguments) {
    const fs::path in = dir_ / "in";
    std::ofstream(in, std::ios::binary) << input;
    return RunArguments(arguments + " " + in.string());
  }
  ProgramRun RunArguments(const std::string& arguments) {
    return Kavren::Testing::RunProgram(tool_.string() + " " + arguments, dir_.string());
  }

  fs::path tool_;
  fs::path dir_;
};

TEST_F(HxaValueTest, PrintsEachFormatAsJson) {
  struct Case {
    std::string input;
    std::string arguments;
    std::string out;
  };
  const Case cases[] = {
      {"{\"b\": [1, -2.5], \"a\": null}", "", "{\"a\":null,\"b\":[1,-2.5]}\n"},
      {"---\nb: yes\na: [x]\n", "", "{\"a\":[\"x\"],\"b\":true}\n"},
      {"a: 1\n", "--from yaml", "{\"a\":1}\n"},
      {"\x81\xA1k\xC3", "", "{\"k\":true}\n"},
      {"\x05", "--from msgpack", "5\n"},
      {"", "", "\n"},
      {"[1]", "--pretty", "[\n    1\n]\n"},
      {"[1]", "--pretty --newline '<>'", "[<>    1<>]\n"},
  };
  for (const Case& c : cases) {
    const ProgramRun run = Run(c.input, c.arguments);
    EXPECT_EQ(run.status, 0) << c.input << run.err;
    EXPECT_EQ(run.out, c.out) << c.input;
    EXPECT_EQ(run.err, "");
  }
}

TEST_F(HxaValueTest, ReportsReaderFailuresOnStandardError) {
  const std::pair<std::string, std::string> cases[] = {
      {"x", "Error: Invalid value. at offset 0.\n"},
      {std::string("\x91\x01\x02", 3), "Extra MessgePack data found in body\n"},
      {"---\n- *a\n", "Undefined alias encountered: \"a\". At line: 2 col: 3\n"},
  };
  for (const auto& [input, message] : cases) {
    const ProgramRun run = Run(input, "");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, message);
  }
}

TEST_F(HxaValueTest, ExitsTwoOnAUsageErrorAndOneOnInputItCannotRead) {
  std::ofstream(dir_ / "in") << "[1]";
  const std::string in = (dir_ / "in").string();
  const std::string missing = (dir_ / "missing").string();
  const std::string rerun = "Run with --help for more information.\n";
  Kavren::Testing::ExpectRefusedRuns(
      tool_.string(),
      {
          {"--from xml " + in, 2, "--from: xml not in {json,yaml,msgpack,auto}\n" + rerun},
          {in + " " + in, 2, "The following argument was not expected: " + in + "\n" + rerun},
          {in + " --newline", 2, "--newline: 1 required TEXT missing\n" + rerun},
          {missing, 1, "hxa-value: cannot read " + missing + "\n"},
      },
      dir_.string());
  const ProgramRun help = RunArguments("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Exit status: 0 success; 1 the input cannot be read or parsed; 2 "
                          "usage error.\n"),
            std::string::npos)
      << help.out;
}

}  // namespace
