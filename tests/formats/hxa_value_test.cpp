// Tests of the hxa-value tool, run as a program over temporary files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "formats/value_text_support.h"

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

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

  ToolRun Run(const std::string& input, const std::string& arguments) {
    const fs::path in = dir_ / "in";
    std::ofstream(in, std::ios::binary) << input;
    const std::string command = tool_.string() + " " + arguments + " " + in.string() + " >" +
                                (dir_ / "out").string() + " 2>" + (dir_ / "err").string();
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
            Kavren::Testing::ReadFileBytes((dir_ / "out").string()),
            Kavren::Testing::ReadFileBytes((dir_ / "err").string())};
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
    const ToolRun run = Run(c.input, c.arguments);
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
    const ToolRun run = Run(input, "");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, message);
  }
}

}  // namespace
