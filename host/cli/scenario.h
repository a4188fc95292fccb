// Scenario mode of the development host: steps read from a JSON or YAML document,
// their effects printed as one JSON object per line.
#pragma once

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <functional>
#include <mutex>
#include <string>

#include "host/core/command.h"
#include "host/core/development_host.h"
#include "host/core/maybe.h"

namespace Kavren::Host {

/// Receives each printed line (one compact JSON object, no newline); called from
/// the host's threads one line at a time.
using LinePrinter = std::function<void(const std::string& line)>;

/// Where a scenario's relative file names ("packet file", "set packet file") are found.
struct ScenarioSettings {
  CoreVersion coreVersion;
  std::string baseDirectory = ".";
  /// The longest "wait for jobs" and the final wait, in milliseconds.
  int jobTimeoutMs = 10000;
};

/// Prints a host's effects (logs, events from the event bus, invokes, jobs) as
/// JSON lines while it is attached; detaches when destroyed.
class EffectPrinter : private HostObserver {
 public:
  EffectPrinter(DevelopmentHost& host, LinePrinter print);
  ~EffectPrinter() override;
  EffectPrinter(const EffectPrinter&) = delete;
  EffectPrinter& operator=(const EffectPrinter&) = delete;

  /// Prints {"effect": `effect`, ...what `fill` writes}.
  void Print(const char* effect,
             const std::function<void(rapidjson::Writer<rapidjson::StringBuffer>&)>& fill);

 private:
  void OnLog(const LogLine& line) override;
  void OnInvoke(const Invocation& invocation) override;
  void OnJobScheduled(const std::string& label) override;
  void OnEvent(const PublishedEvent& event);

  DevelopmentHost& host_;
  LinePrinter print_;
  EventBus::ListenerId listener_;
  // Keeps lines whole when several host threads report at once.
  std::mutex mutex_;
};

/// Checks a scenario's shape: an object whose "steps", when present, is a list of
/// objects with exactly one key. Fails otherwise.
[[nodiscard]] MaybeType<Failure> CheckScenario(const rapidjson::Value& scenario);
/// Sets the scenario's "packet" or "packet file" (before the plugin starts).
[[nodiscard]] MaybeType<Failure> SetScenarioPacket(const rapidjson::Value& scenario,
                                                   DevelopmentHost& host,
                                                   const ScenarioSettings& settings);
/// Runs the scenario's "steps" in order against a started host, then waits for
/// the jobs. Steps are objects with one key: "set packet" (the packet), "set
/// packet file" (a JSON or YAML file), "clear packet", "push server message"
/// ({"body", and optionally "typeName", "clientId", "subtopic"}), "call endpoint"
/// ({"method", "path"} or {"function"}, optionally "arguments" (object: named
/// entries; array: positional entries) and "body"), "fail next invoke"
/// ({"status", "errorText"}), "wait for jobs" (null or {"timeoutMs"}), and
/// "read invokes", "read log", "read memory", "read packet". Fails at the first malformed step
/// ("step N (name): " and why); the effects printed before stay printed.
[[nodiscard]] MaybeType<Failure> RunScenarioSteps(const rapidjson::Value& scenario,
                                                  DevelopmentHost& host,
                                                  const ScenarioSettings& settings,
                                                  EffectPrinter& printer);

/// Loads the plugin, sets the scenario's packet before Start, starts it, runs the
/// steps, waits for the jobs and stops. Fails when the scenario is malformed or the
/// plugin cannot be loaded.
[[nodiscard]] MaybeType<Failure> RunScenario(const rapidjson::Value& scenario,
                                             Abi::PluginLoadFunction load,
                                             const ScenarioSettings& settings,
                                             const LinePrinter& print);

}  // namespace Kavren::Host
