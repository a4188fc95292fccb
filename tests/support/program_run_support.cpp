// Running a built program with its output captured in files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "support/program_run.h"

namespace Kavren::Testing {
namespace {

std::string ReadWhole(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace

ProgramRun RunProgram(const std::string& commandLine, const std::string& scratch) {
  const std::string out = scratch + "/out";
  const std::string err = scratch + "/err";
  const int status = std::system((commandLine + " >" + out + " 2>" + err).c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadWhole(out), ReadWhole(err)};
}

void ExpectRefusedRuns(const std::string& program, const std::vector<RefusedRun>& rows,
                       const std::string& scratch) {
  for (const RefusedRun& row : rows) {
    const ProgramRun run = RunProgram(program + " " + row.arguments, scratch);
    EXPECT_EQ(run.status, row.status) << row.arguments;
    EXPECT_EQ(run.err, row.err) << row.arguments;
    EXPECT_EQ(run.out, "") << row.arguments;
  }
}

}  // namespace Kavren::Testing
