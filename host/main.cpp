// hxa-host: loads a plugin, starts it, prints its memory statistics and stops it; or
// runs a scenario against it and prints the effects as JSON lines.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

#include "host/describe.h"
#include "host/development_host.h"
#include "host/document.h"
#include "host/plugin_library.h"
#include "host/scenario.h"

namespace {

const char* LevelName(std::int32_t level) {
  switch (level) {
    case 0:
      return "  OKAY";
    case 1:
      return "  WARN";
    case 2:
      return " ERROR";
    case 3:
      return "ALWAYS";
    default:
      return "   ???";
  }
}

void PrintStats(const Kavren::Abi::PluginMemoryStats& stats) {
  std::printf(
      "memory: peakBytes %llu, peakBlocks %llu, allocatedBytes %llu, allocations %llu, "
      "freedBytes %llu, frees %llu, in use %llu\n",
      static_cast<unsigned long long>(stats.peakBytes),
      static_cast<unsigned long long>(stats.peakBlocks),
      static_cast<unsigned long long>(stats.allocatedBytes),
      static_cast<unsigned long long>(stats.allocations),
      static_cast<unsigned long long>(stats.freedBytes),
      static_cast<unsigned long long>(stats.frees),
      static_cast<unsigned long long>(stats.allocatedBytes - stats.freedBytes));
}

int RunScenarioFile(const std::string& scenarioPath, const Kavren::Host::PluginLibrary& library,
                    Kavren::Host::CoreVersion coreVersion) {
  rapidjson::Document scenario;
  std::string error;
  if (!Kavren::Host::LoadDocumentFile(scenarioPath, scenario, error)) {
    std::fprintf(stderr, "hxa-host: %s\n", error.c_str());
    return 2;
  }
  Kavren::Host::ScenarioSettings settings;
  settings.coreVersion = coreVersion;
  const std::size_t slash = scenarioPath.rfind('/');
  if (slash != std::string::npos) settings.baseDirectory = scenarioPath.substr(0, slash);
  const bool ok = Kavren::Host::RunScenario(
      scenario, library.Export(), settings,
      [](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
      },
      error);
  if (!ok) {
    std::fprintf(stderr, "hxa-host: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "describe") {
    CLI::App describe{
        "Prints a plugin's API offline: OpenAPI 3.1, or the help's native or epytext form"};
    std::string describePlugin;
    std::string format = "openapi";
    describe.add_option("--format", format, "openapi, native or epytext")->capture_default_str();
    describe.add_option("plugin", describePlugin, "path of the plugin library")->required();
    try {
      describe.parse(argc - 1, argv + 1);
    } catch (const CLI::ParseError& error) {
      return describe.exit(error);
    }
    return Kavren::Host::RunDescribe(describePlugin, format, stdout);
  }
  CLI::App app{
      "Development host: loads a plugin, starts it, prints its memory statistics, stops it; "
      "with --scenario, runs the scenario's steps and prints their effects as JSON lines"};
  std::string coreVersionText = "18.0.0";
  std::string pluginPath;
  std::string scenarioPath;
  std::string packetPath;
  app.add_option("--core-version", coreVersionText, "plugin API version of the core")
      ->capture_default_str();
  app.add_option("--scenario", scenarioPath, "YAML or JSON scenario file to run");
  app.add_option("--packet", packetPath,
                 "JSON or YAML login data packet to serve (without --scenario)");
  app.add_option("plugin", pluginPath, "path of the plugin library")->required();
  CLI11_PARSE(app, argc, argv);

  const auto coreVersion = Kavren::Host::ParseCoreVersion(coreVersionText);
  if (!coreVersion) {
    std::fprintf(stderr, "hxa-host: not a version (MAJOR.MINOR.PATCH): %s\n",
                 coreVersionText.c_str());
    return 2;
  }
  Kavren::Host::PluginLibrary library;
  if (!library.Open(pluginPath)) {
    std::fprintf(stderr, "hxa-host: %s\n", library.Error().c_str());
    return 1;
  }

  if (!scenarioPath.empty()) return RunScenarioFile(scenarioPath, library, *coreVersion);

  Kavren::Host::DevelopmentHost host;
  host.SetLogListener([](const Kavren::Host::LogLine& line) {
    std::printf("host log %s| %s\n", LevelName(line.level), line.message.c_str());
    std::fflush(stdout);
  });
  if (!packetPath.empty()) {
    rapidjson::Document packet;
    std::string error;
    if (!Kavren::Host::LoadDocumentFile(packetPath, packet, error) ||
        !host.SetLoginDataPacket(packet, error)) {
      std::fprintf(stderr, "hxa-host: %s\n", error.c_str());
      return 2;
    }
  }
  if (!host.Load(library, *coreVersion)) {
    std::fprintf(stderr, "hxa-host: the plugin's export returned no function table\n");
    return 1;
  }
  const auto& record = host.Record();
  std::printf("loaded %s (plugin API %u.%u.%u) for core %u.%u.%u\n",
              record.name != nullptr ? record.name : "(no name)", record.major, record.minor,
              record.patch, coreVersion->major, coreVersion->minor, coreVersion->patch);
  const bool started = host.Start();
  std::printf("started: %s\n", started ? "yes" : "no");
  PrintStats(host.MemoryStats());
  host.Stop();
  std::printf("stopped\n");
  return started ? 0 : 1;
}
