// hxa-host's command line run as a program: each mistake gets its message and exit status
// before the plugin is loaded or a server listens.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/program_run.h"

namespace {

namespace fs = std::filesystem;

TEST(HxaHostCommandLine, ChecksEveryOptionBeforeLoadingOrListening) {
  const fs::path host = fs::path(HXA_BINARY_DIR) / "hxa-host";
  if (!fs::exists(host)) GTEST_SKIP() << "hxa-host is not built";
  const fs::path dir = fs::temp_directory_path() / ("hxa-host-cli-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "broken.yaml") << "steps: [\n";
  const std::string plugin = HXA_PLUGIN_PATH;
  const std::string missing = (dir / "missing.json").string();
  const std::string broken = (dir / "broken.yaml").string();
  const std::string rerun = "Run with --help for more information.\n";
  const std::string footer =
      "Exit status: 0 success; 1 an input (a file, the plugin) cannot be read or parsed, or "
      "the run failed; 2 usage error.\n";
  // Nothing is printed on stdout by any of them: no plugin was loaded, no server listened.
  std::vector<Kavren::Testing::RefusedRun> rows = {
      // Usage errors, the parser's own among them.
      {"serve --port 99999 " + plugin, 2, "--port: Value 99999 not in range 0 to 65535\n" + rerun},
      {"serve --port -1 " + plugin, 2, "--port: Value -1 not in range 0 to 65535\n" + rerun},
      {"serve", 2, "plugin is required\n" + rerun},
      {"describe --format yaml " + plugin, 2,
       "--format: yaml not in {openapi,asyncapi,native,epytext}\n" + rerun},
      {"--unknown " + plugin, 2, "The following argument was not expected: --unknown\n" + rerun},
      {"", 2, "hxa-host: no plugin given (see --help)\n"},
      // Input that cannot be read or parsed.
      {"scenario " + missing + " " + plugin, 1, "hxa-host: cannot read " + missing + "\n"},
      {"--packet " + missing + " " + plugin, 1, "hxa-host: cannot read " + missing + "\n"},
      {missing, 1,
       "hxa-host: " + missing + ": cannot open shared object file: No such file or directory\n"},
  };
#if HXA_HOST_SERVER
  rows.insert(
      rows.end(),
      {
          {"serve --core-version 18 " + plugin, 2,
           "hxa-host: not a version (MAJOR.MINOR.PATCH): 18\n"},
          {"serve --packet " + missing + " " + plugin, 1,
           "hxa-host: cannot read " + missing + "\n"},
          {"serve --scenario " + broken + " " + plugin, 1,
           "hxa-host: " + broken +
               ": YAML error at line 2, column 1: did not find expected node content\n"},
          // A non-loopback address is warned about before the files are read.
          {"serve --bind 0.0.0.0 --packet " + missing + " " + plugin, 1,
           "hxa-host: warning: 0.0.0.0 is not a loopback address: anyone who can reach it can "
           "drive the host (its /_host/ controls push messages, fail server calls and replace "
           "the login data)\nhxa-host: cannot read " +
               missing + "\n"},
      });
#else
  // A build without the server refuses serve once its options have parsed.
  rows.push_back({"serve --packet " + missing + " " + plugin, 2,
                  "hxa-host was built without the development server; use the x64 build\n"});
#endif
  Kavren::Testing::ExpectRefusedRuns(host.string(), rows, dir.string());
  for (const char* help : {"--help", "serve --help"}) {
    const Kavren::Testing::ProgramRun run =
        Kavren::Testing::RunProgram(host.string() + " " + help, dir.string());
    EXPECT_EQ(run.status, 0) << help;
    EXPECT_NE(run.out.find(footer), std::string::npos) << help << run.out;
  }
  fs::remove_all(dir);
}

}  // namespace
