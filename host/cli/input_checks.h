// hxa-host's command-line checks: the exit statuses it documents (the parser's own errors
// mapped onto them), and the input its options name, checked before a plugin is loaded
// or a server listens.
#pragma once

#include <rapidjson/document.h>

#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/core/development_host.h"
#include "host/core/maybe.h"

namespace CLI {
class App;
}

namespace Kavren::Host {

/// hxa-host's exit statuses, unless a subcommand documents its own.
inline constexpr int kExitSuccess = 0;
/// An input (a file, the plugin) cannot be read or parsed, or the run failed.
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

/// What a command's exit statuses are: the status of a usage error, and the --help
/// footer that lists them all.
struct ExitStatuses {
  int usage = kExitUsage;
  std::string footer =
      "Exit status: 0 success; 1 an input (a file, the plugin) cannot be read or parsed, or "
      "the run failed; 2 usage error.";
};

/// Parses a command line whose commands document their exit statuses.
class CommandLine {
 public:
  /// `root`'s statuses, which each subcommand added later inherits.
  CommandLine(CLI::App& root, ExitStatuses statuses);
  /// Gives `subcommand` statuses of its own.
  void Document(CLI::App& subcommand, ExitStatuses statuses);
  /// Parses; on a parse error prints the parser's message (or the help asked for) and
  /// answers the status to exit with: 0 after --help, else the usage status of the
  /// innermost command given that documents one.
  [[nodiscard]] std::optional<int> Parse(int argc, const char* const* argv);

 private:
  CLI::App& root_;
  std::vector<std::pair<const CLI::App*, int>> usage_;
};

/// Resolves the address to listen on; when it is not a loopback address, writes one
/// warning line to `err`, as anyone who can reach it can drive the host. Answers the
/// numeric address; fails when it cannot be resolved.
[[nodiscard]] MaybeType<Failure, std::string> CheckBindAddress(const std::string& bind,
                                                               std::FILE* err);

/// Reads a scenario file and checks its shape.
[[nodiscard]] MaybeType<Failure> ReadScenarioFile(const std::string& path,
                                                  rapidjson::Document& scenario);

/// Reads a login data packet file and sets it on `host`; nothing when `path` is empty.
[[nodiscard]] MaybeType<Failure> SetPacketFile(DevelopmentHost& host, const std::string& path);

}  // namespace Kavren::Host
