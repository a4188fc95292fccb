// Scenario mode of the development host: steps read from a JSON or YAML document,
// their effects printed as one JSON object per line.
#pragma once

#include <rapidjson/document.h>

#include <functional>
#include <string>

#include "host/development_host.h"

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

/// Loads the plugin, sets the scenario's "packet" (or "packet file") before
/// Start, starts it, runs the "steps" in order, waits for the jobs and stops.
/// Steps are objects with one key: "set packet" (the packet), "set packet file"
/// (a JSON or YAML file), "clear packet", "push server message" ({"body", and
/// optionally "typeName", "clientId", "subtopic"}), "call endpoint" ({"method",
/// "path"} or {"function"}, optionally "arguments" (object: named entries; array:
/// positional entries) and "body"), "fail next invoke" ({"status", "errorText"})
/// and "wait for jobs" (null or {"timeoutMs"}). False with `error` set when the
/// scenario is malformed or the plugin cannot be loaded; the effects printed
/// before stay printed.
[[nodiscard]] bool RunScenario(const rapidjson::Value& scenario, Abi::PluginLoadFunction load,
                               const ScenarioSettings& settings, const LinePrinter& print,
                               std::string& error);

}  // namespace Kavren::Host
