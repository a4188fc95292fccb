// Running a built program as a user would, its output and exit status captured.
#pragma once

#include <string>
#include <vector>

namespace Kavren::Testing {

/// What a program left behind.
struct ProgramRun {
  /// The exit status, or -1 when it did not exit (a signal ended it).
  int status = -1;
  std::string out;
  std::string err;
};

/// Runs `commandLine` through the shell, its standard output and error going to files in
/// the directory `scratch`, and reads them back.
[[nodiscard]] ProgramRun RunProgram(const std::string& commandLine, const std::string& scratch);

/// A row of a command-line table: the arguments, and the status and the standard error
/// they give, with nothing on standard output.
struct RefusedRun {
  std::string arguments;
  int status;
  std::string err;
};

/// Runs `program` with each row's arguments and expects what the row says.
void ExpectRefusedRuns(const std::string& program, const std::vector<RefusedRun>& rows,
                       const std::string& scratch);

}  // namespace Kavren::Testing
