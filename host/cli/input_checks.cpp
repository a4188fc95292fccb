// hxa-host's exit statuses and the checks of its input before anything is loaded or bound.
#include "host/cli/input_checks.h"

#include <CLI/CLI.hpp>
#include <algorithm>

#include "host/cli/scenario.h"
#include "host/core/document.h"
#include "host/core/messages.h"
#include "host/server/listen_address.h"

namespace Kavren::Host {

CommandLine::CommandLine(CLI::App& root, ExitStatuses statuses) : root_(root) {
  // The parser copies a command's footer to each subcommand added to it afterwards.
  Document(root, std::move(statuses));
}

void CommandLine::Document(CLI::App& subcommand, ExitStatuses statuses) {
  subcommand.footer(std::move(statuses.footer));
  usage_.emplace_back(&subcommand, statuses.usage);
}

std::optional<int> CommandLine::Parse(int argc, const char* const* argv) {
  try {
    root_.parse(argc, argv);
    return std::nullopt;
  } catch (const CLI::ParseError& error) {
    // The parser's own codes (100 and up) say which rule was broken; to the caller
    // every one of them is a usage error.
    if (root_.exit(error) == 0) return kExitSuccess;
    const CLI::App* command = &root_;
    int usage = kExitUsage;
    while (command != nullptr) {
      const auto documented = std::find_if(
          usage_.begin(), usage_.end(), [&](const auto& entry) { return entry.first == command; });
      if (documented != usage_.end()) usage = documented->second;
      const auto given = command->get_subcommands();
      command = given.empty() ? nullptr : given.front();
    }
    return usage;
  }
}

MaybeType<Failure, std::string> CheckBindAddress(const std::string& bind, std::FILE* err) {
  MaybeType<Failure, ListenAddress> address = ResolveListenAddress(bind);
  if (address.Failed()) return address.GetFailure();
  if (!address.Value().loopback) {
    std::fprintf(err, HostMessages::kReachableBindWarning, address.Value().numeric.c_str());
    std::fflush(err);
  }
  return std::move(address.Value().numeric);
}

MaybeType<Failure> ReadScenarioFile(const std::string& path, rapidjson::Document& scenario) {
  MaybeType<Failure> read = LoadDocumentFile(path, scenario);
  if (read.Succeeded()) read = CheckScenario(scenario);
  return read;
}

MaybeType<Failure> SetPacketFile(DevelopmentHost& host, const std::string& path) {
  if (path.empty()) return {};
  rapidjson::Document packet;
  MaybeType<Failure> set = LoadDocumentFile(path, packet);
  if (set.Succeeded()) set = host.SetLoginDataPacket(packet);
  return set;
}

}  // namespace Kavren::Host
