// hxa-host: the development host's command line. `serve` puts the plugin behind a
// local HTTP server, `scenario` runs a scenario file and prints its effects as JSON
// lines, `describe` prints the plugin's API, `validate` explores host orderings; without
// a subcommand it loads the plugin, starts it, prints its memory statistics and stops it.
#include <pthread.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "host/cli/input_checks.h"
#include "host/cli/scenario.h"
#include "host/core/development_host.h"
#include "host/core/document.h"
#include "host/core/messages.h"
#include "host/core/plugin_library.h"
#include "host/describe/asyncapi.h"
#include "host/describe/describe.h"
#include "host/server/host_controls_api.h"
#include "host/server/listen_address.h"
#include "host/server/session_recording.h"
#include "host/validate/run.h"

#if HXA_HOST_SERVER
#include "host/server/api_page.h"
#include "host/server/development_server.h"
#endif

namespace {

using Kavren::Host::CoreVersion;
using Kavren::Host::DevelopmentHost;
using Kavren::Host::Failure;
using Kavren::Host::kExitFailure;
using Kavren::Host::kExitUsage;
using Kavren::Host::MaybeType;
using Kavren::Host::PluginLibrary;

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

void PrintLine(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
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
  std::fflush(stdout);
}

void PrintLogLines(DevelopmentHost& host) {
  host.SetLogListener([](const Kavren::Host::LogLine& line) {
    std::printf("host log %s| %s\n", LevelName(line.level), line.message.c_str());
    std::fflush(stdout);
  });
}

int Fail(int code, const std::string& message) {
  std::fprintf(stderr, "hxa-host: %s\n", message.c_str());
  return code;
}

// What every subcommand shares: the core version and the plugin's path.
struct Common {
  std::string coreVersionText = "18.0.0";
  std::string pluginPath;
  CoreVersion coreVersion;
  PluginLibrary library;

  void AddTo(CLI::App& app, bool pluginRequired) {
    app.add_option("--core-version", coreVersionText, "plugin API version of the core")
        ->capture_default_str();
    auto* plugin = app.add_option("plugin", pluginPath, "path of the plugin library");
    if (pluginRequired) plugin->required();
  }

  // Parses the version; the usage status when it is not one.
  std::optional<int> CheckVersion() {
    const auto version = Kavren::Host::ParseCoreVersion(coreVersionText);
    if (!version) return Fail(kExitUsage, "not a version (MAJOR.MINOR.PATCH): " + coreVersionText);
    coreVersion = *version;
    return std::nullopt;
  }

  // Opens the library, once every other input has been checked; an exit status when
  // that failed.
  std::optional<int> Open() {
    const MaybeType<Failure> opened = library.Open(pluginPath);
    if (opened.Failed()) return Fail(kExitFailure, opened.GetFailure().message);
    return std::nullopt;
  }
};

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

// The exit code `code` with the failure's message on stderr.
int Fail(int code, const Failure& failure) { return Fail(code, failure.message); }

int RunScenarioFile(const std::string& scenarioPath, Common& common) {
  if (auto failed = common.CheckVersion()) return *failed;
  rapidjson::Document scenario;
  const MaybeType<Failure> loaded = Kavren::Host::ReadScenarioFile(scenarioPath, scenario);
  if (loaded.Failed()) return Fail(kExitFailure, loaded.GetFailure());
  if (auto failed = common.Open()) return *failed;
  Kavren::Host::ScenarioSettings settings;
  settings.coreVersion = common.coreVersion;
  settings.baseDirectory = DirectoryOf(scenarioPath);
  const MaybeType<Failure> ran =
      Kavren::Host::RunScenario(scenario, common.library.Export(), settings, PrintLine);
  if (ran.Failed()) return Fail(kExitFailure, ran.GetFailure());
  return 0;
}

// Loads and starts the plugin, printing as the plain run does; false when the
// export gave no function table.
bool LoadAndStart(DevelopmentHost& host, Common& common, bool& started) {
  if (!host.Load(common.library, common.coreVersion)) {
    Fail(kExitFailure, "the plugin's export returned no function table");
    return false;
  }
  const auto& record = host.Record();
  std::printf("loaded %s (plugin API %u.%u.%u) for core %u.%u.%u\n",
              record.name != nullptr ? record.name : "(no name)", record.major, record.minor,
              record.patch, common.coreVersion.major, common.coreVersion.minor,
              common.coreVersion.patch);
  started = host.Start();
  std::printf("started: %s\n", started ? "yes" : "no");
  std::fflush(stdout);
  return true;
}

int RunPlain(Common& common, const std::string& packetPath) {
  if (auto failed = common.CheckVersion()) return *failed;
  DevelopmentHost host;
  PrintLogLines(host);
  const MaybeType<Failure> packet = Kavren::Host::SetPacketFile(host, packetPath);
  if (packet.Failed()) return Fail(kExitFailure, packet.GetFailure());
  if (auto failed = common.Open()) return *failed;
  bool started = false;
  if (!LoadAndStart(host, common, started)) return kExitFailure;
  PrintStats(host.MemoryStats());
  host.Stop();
  std::printf("stopped\n");
  return started ? 0 : 1;
}

struct ServeOptions {
  std::string bind = "127.0.0.1";
  int port = 8080;
  std::string packetPath;
  std::string scenarioPath;
  std::string recordPath;
};

#if HXA_HOST_SERVER
// Starts the recording with the packet the plugin starts with and the scenario's steps.
MaybeType<Failure> BeginRecording(Kavren::Host::SessionRecording& recording, DevelopmentHost& host,
                                  const rapidjson::Value& scenario) {
  rapidjson::Document packet;
  const std::optional<std::string> packetJson = host.LoginDataPacketJson();
  if (packetJson) (void)Kavren::Host::ParseJsonText(*packetJson, packet);
  const bool hasSteps = scenario.IsObject() && scenario.HasMember("steps");
  return recording.Begin(packetJson ? &packet : nullptr, hasSteps ? &scenario["steps"] : nullptr);
}

int RunServe(Common& common, const ServeOptions& options) {
  // SIGINT and SIGTERM are taken by sigwait below; every thread made from here
  // on inherits the mask, so none of them is interrupted. A reader that goes away
  // must not end the process.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  // Every option is checked, and every file it names read, before the plugin is loaded
  // or the server listens.
  if (auto failed = common.CheckVersion()) return *failed;
  const MaybeType<Failure, std::string> address =
      Kavren::Host::CheckBindAddress(options.bind, stderr);
  if (address.Failed()) return Fail(kExitUsage, address.GetFailure());
  DevelopmentHost host;
  rapidjson::Document scenario;
  Kavren::Host::ScenarioSettings scenarioSettings;
  scenarioSettings.coreVersion = common.coreVersion;
  MaybeType<Failure> read = Kavren::Host::SetPacketFile(host, options.packetPath);
  if (read.Succeeded() && !options.scenarioPath.empty()) {
    scenarioSettings.baseDirectory = DirectoryOf(options.scenarioPath);
    read = Kavren::Host::ReadScenarioFile(options.scenarioPath, scenario);
    if (read.Succeeded()) read = Kavren::Host::SetScenarioPacket(scenario, host, scenarioSettings);
  }
  if (read.Failed()) return Fail(kExitFailure, read.GetFailure());
  if (auto failed = common.Open()) return *failed;

  Kavren::Host::ServerSettings settings;
  settings.bind = address.Value();
  settings.port = options.port;
  Kavren::Host::SessionRecording recording(options.recordPath);
  if (!options.recordPath.empty()) {
    // The recording file is written before anything listens, so it is checked too.
    const MaybeType<Failure> begun = BeginRecording(recording, host, scenario);
    if (begun.Failed()) return Fail(kExitFailure, begun.GetFailure());
    settings.recording = &recording;
  }
  Kavren::Host::DevelopmentServer server(host, settings);
  // The API page, before Bind so that its routes win over the plugin's paths. The
  // documents are made once the plugin is loaded, before the server starts serving.
  std::string openApiJson;
  std::string asyncApiJson;
  Kavren::Host::MountApiPage(
      server.Http(),
      {[&openApiJson] { return openApiJson; }, [&asyncApiJson] { return asyncApiJson; }},
      Kavren::Host::FindApiPageFiles());
  const MaybeType<Failure> bound = server.Bind();
  if (bound.Failed()) return Fail(kExitFailure, bound.GetFailure());
  PrintLine("listening on " + server.Url());

  PrintLogLines(host);
  bool started = false;
  if (!LoadAndStart(host, common, started)) return kExitFailure;
  openApiJson = Kavren::Host::DevelopmentServerOpenApi(host.Record());
  asyncApiJson = Kavren::Host::AsyncApiDocument(host.Record());
  if (!options.scenarioPath.empty()) {
    // The scenario's effects come as JSON lines, its logs among them.
    host.SetLogListener(nullptr);
    Kavren::Host::EffectPrinter printer(host, PrintLine);
    const MaybeType<Failure> ran =
        Kavren::Host::RunScenarioSteps(scenario, host, scenarioSettings, printer);
    if (ran.Failed()) Fail(kExitFailure, ran.GetFailure());
    PrintLogLines(host);
  }
  server.Start();

  int signal = 0;
  sigwait(&stopSignals, &signal);
  server.Shutdown();
  host.Stop();
  PrintStats(host.MemoryStats());
  std::printf("stopped\n");
  if (!options.recordPath.empty() && recording.LastWrite().Failed()) {
    return Fail(kExitFailure, recording.LastWrite().GetFailure());
  }
  return 0;
}
#else
// The 32-bit builds leave the HTTP server out (HXA_HOST_SERVER); `serve` keeps its options,
// so that a mistaken one is still reported as such, and then refuses.
int RunServe(Common&, const ServeOptions&) {
  std::fprintf(stderr, "%s\n", Kavren::Host::HostMessages::kNoDevelopmentServer);
  return kExitUsage;
}
#endif

int Run(int argc, char** argv) {
  CLI::App app{
      "Development host: loads a plugin, starts it, prints its memory statistics and stops "
      "it; or serves it over HTTP, runs a scenario against it, or describes its API"};
  app.require_subcommand(0, 1);
  Kavren::Host::ExitStatuses statuses;
  statuses.footer =
      "hxa-host validate PLUGIN.so [options]: validate the plugin (see validate --help, which "
      "lists its own exit statuses).\n" +
      statuses.footer;
  Kavren::Host::CommandLine commandLine(app, statuses);

  Common plain;
  plain.AddTo(app, false);
  std::string scenarioPath;
  std::string packetPath;
  app.add_option("--scenario", scenarioPath, "YAML or JSON scenario file to run");
  app.add_option("--packet", packetPath,
                 "JSON or YAML login data packet to serve (without --scenario)");

  Common serveCommon;
  ServeOptions serve;
  CLI::App* serveApp = app.add_subcommand(
      "serve",
      "serve the plugin's endpoints, its events (/events) and host controls (/_host/) "
      "over HTTP until SIGINT or SIGTERM");
  serveCommon.AddTo(*serveApp, true);
  serveApp->add_option("--bind", serve.bind, "address to listen on")->capture_default_str();
  serveApp->add_option("--port", serve.port, "port to listen on (0: any free port)")
      ->check(CLI::Range(0, Kavren::Host::kMaxPort))
      ->capture_default_str();
  serveApp->add_option("--packet", serve.packetPath, "JSON or YAML login data packet to serve");
  serveApp->add_option("--scenario", serve.scenarioPath,
                       "YAML or JSON scenario whose packet and steps run before serving");
  serveApp->add_option("--record", serve.recordPath,
                       "write the session (packet, host controls, endpoint calls) to this "
                       "scenario file, for hxa-host scenario to replay");

  Common scenarioCommon;
  std::string scenarioFile;
  CLI::App* scenarioApp =
      app.add_subcommand("scenario", "run a scenario file and print its effects as JSON lines");
  scenarioApp->add_option("file", scenarioFile, "YAML or JSON scenario file")->required();
  scenarioCommon.AddTo(*scenarioApp, true);

  Common describeCommon;
  std::string format = "openapi";
  CLI::App* describeApp = app.add_subcommand("describe", "print the plugin's API");
  describeCommon.AddTo(*describeApp, true);
  describeApp->add_option("--format", format, "openapi, asyncapi, native or epytext")
      ->check(CLI::IsMember({"openapi", "asyncapi", "native", "epytext"}))
      ->capture_default_str();

  if (auto parsed = commandLine.Parse(argc, argv)) return *parsed;

  if (serveApp->parsed()) return RunServe(serveCommon, serve);
  if (scenarioApp->parsed()) return RunScenarioFile(scenarioFile, scenarioCommon);
  if (describeApp->parsed()) {
    if (auto failed = describeCommon.CheckVersion()) return *failed;
    if (auto failed = describeCommon.Open()) return *failed;
    return Kavren::Host::RunDescribe(describeCommon.library, describeCommon.coreVersion, format,
                                     stdout);
  }
  if (plain.pluginPath.empty()) return Fail(kExitUsage, "no plugin given (see --help)");
  if (!scenarioPath.empty()) return RunScenarioFile(scenarioPath, plain);
  return RunPlain(plain, packetPath);
}

}  // namespace

int main(int argc, char** argv) {
  // Whatever escapes a command (an allocation or a thread that failed) ends the run with
  // its reason and status 1 rather than through std::terminate.
  try {
    // validate has exit codes of its own (3 for a usage error), so it parses its own
    // arguments.
    if (argc >= 2 && std::string(argv[1]) == "validate") {
      return Kavren::Host::RunValidateCommand(argc - 1, argv + 1);
    }
    return Run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "hxa-host: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "hxa-host: unknown failure\n");
  }
  return 1;
}
