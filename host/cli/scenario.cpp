// Running a scenario against a loaded plugin and printing its effects as JSON lines.
#include "host/cli/scenario.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "host/core/document.h"
#include "host/core/method.h"

namespace Kavren::Host {
namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

void Text(Writer& writer, const char* key, const std::string& value) {
  writer.Key(key);
  writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
}

// Embeds JSON text the host produced itself.
void Raw(Writer& writer, const char* key, const std::string& json) {
  writer.Key(key);
  writer.RawValue(json.data(), json.size(), rapidjson::kObjectType);
}

std::string VersionText(std::uint32_t major, std::uint32_t minor, std::uint32_t patch) {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

CommandSettings SettingsOf(const ScenarioSettings& settings) {
  return CommandSettings{settings.baseDirectory, settings.jobTimeoutMs};
}

// Prints what a step did, when it did more than its effects show.
void PrintResult(EffectPrinter& printer, const Command& command, const CommandResult& result) {
  switch (command.kind) {
    case CommandKind::kCallEndpoint: {
      // A call that found no endpoint prints as an empty reply with the host's reason.
      const bool found = result.reply.Succeeded();
      const EndpointReply unanswered;
      const EndpointReply& reply = found ? result.reply.Value() : unanswered;
      const std::string& errorText =
          found ? reply.outcome.GetFailure().message : result.reply.GetFailure().message;
      printer.Print("reply", [&](Writer& writer) {
        Text(writer, "method", found ? MethodText(reply.method) : command.methodText);
        Text(writer, "path", command.call.path);
        writer.Key("found");
        writer.Bool(found);
        if (found) Text(writer, "function", reply.functionName);
        writer.Key("status");
        writer.Int(reply.status);
        writer.Key("failed");
        writer.Bool(reply.outcome.Failed());
        if (!errorText.empty()) Text(writer, "errorText", errorText);
        Raw(writer, "value", reply.valueJson);
        if (reply.streamBody) Text(writer, "stream", *reply.streamBody);
      });
      break;
    }
    case CommandKind::kWaitForJobs:
      printer.Print("jobs", [&](Writer& writer) {
        writer.Key("done");
        writer.Bool(result.json == "{\"done\":true}");
      });
      break;
    case CommandKind::kReadInvokes:
    case CommandKind::kReadLog:
    case CommandKind::kReadMemory:
    case CommandKind::kReadPacket:
      printer.Print(StepName(command.kind),
                    [&](Writer& writer) { Raw(writer, "value", result.json); });
      break;
    default:
      break;
  }
}

MaybeType<Failure> RunStep(const std::string& step, const rapidjson::Value& argument,
                           DevelopmentHost& host, const ScenarioSettings& settings,
                           EffectPrinter& printer) {
  const auto kind = CommandOfStep(step);
  if (!kind) return Failure{"unknown step \"" + step + "\""};
  Command command;
  MaybeType<Failure> parsed = ParseCommand(*kind, argument, command);
  if (parsed.Failed()) return parsed;
  const MaybeType<Failure, CommandResult> result =
      ExecuteCommand(host, command, SettingsOf(settings));
  if (result.Failed()) return result.GetFailure();
  PrintResult(printer, command, result.Value());
  return {};
}

MaybeType<Failure> FinalWait(DevelopmentHost& host, const ScenarioSettings& settings,
                             EffectPrinter& printer) {
  return RunStep("wait for jobs", rapidjson::Value(), host, settings, printer);
}

}  // namespace

EffectPrinter::EffectPrinter(DevelopmentHost& host, LinePrinter print)
    : host_(host), print_(std::move(print)) {
  listener_ = host_.Bus().AddListener([this](const PublishedEvent& event) { OnEvent(event); });
  host_.SetObserver(this);
}

EffectPrinter::~EffectPrinter() {
  host_.SetObserver(nullptr);
  host_.Bus().RemoveListener(listener_);
}

void EffectPrinter::Print(const char* effect, const std::function<void(Writer&)>& fill) {
  rapidjson::StringBuffer buffer;
  Writer writer(buffer);
  writer.StartObject();
  Text(writer, "effect", effect);
  fill(writer);
  writer.EndObject();
  std::lock_guard lock(mutex_);
  print_(std::string(buffer.GetString(), buffer.GetSize()));
}

void EffectPrinter::OnLog(const LogLine& line) {
  Print("log", [&](Writer& writer) {
    writer.Key("level");
    writer.Int(line.level);
    Text(writer, "message", line.message);
  });
}

void EffectPrinter::OnEvent(const PublishedEvent& event) {
  Print("event", [&](Writer& writer) {
    Text(writer, "origin", event.origin);
    Text(writer, "name", event.name);
    writer.Key("flag");
    writer.Int(event.flag);
    writer.Key("delivered");
    writer.Uint64(event.delivered);
    Raw(writer, "payload", event.payloadJson);
  });
}

void EffectPrinter::OnInvoke(const Invocation& invocation) {
  Print("invoke", [&](Writer& writer) {
    Text(writer, "service", invocation.service);
    Text(writer, "method", invocation.method);
    Raw(writer, "arguments", invocation.argumentsJson);
    writer.Key("status");
    writer.Int(invocation.status);
    if (!invocation.errorText.empty()) Text(writer, "errorText", invocation.errorText);
  });
}

void EffectPrinter::OnJobScheduled(const std::string& label) {
  Print("job", [&](Writer& writer) { Text(writer, "label", label); });
}

MaybeType<Failure> CheckScenario(const rapidjson::Value& scenario) {
  if (!scenario.IsObject()) return Failure{"a scenario is an object with \"steps\""};
  if (!scenario.HasMember("steps")) return {};
  const rapidjson::Value& steps = scenario["steps"];
  if (!steps.IsArray()) return Failure{"\"steps\" must be a list"};
  for (const auto& step : steps.GetArray()) {
    if (!step.IsObject() || step.MemberCount() != 1) {
      return Failure{"each step is an object with exactly one key"};
    }
  }
  return {};
}

MaybeType<Failure> SetScenarioPacket(const rapidjson::Value& scenario, DevelopmentHost& host,
                                     const ScenarioSettings& settings) {
  const std::pair<const char*, CommandKind> sources[] = {
      {"packet", CommandKind::kSetPacket}, {"packet file", CommandKind::kSetPacketFile}};
  for (const auto& [key, kind] : sources) {
    if (!scenario.HasMember(key)) continue;
    Command command;
    MaybeType<Failure> parsed = ParseCommand(kind, scenario[key], command);
    if (parsed.Failed()) return parsed;
    const MaybeType<Failure, CommandResult> result =
        ExecuteCommand(host, command, SettingsOf(settings));
    if (result.Failed()) return result.GetFailure();
  }
  return {};
}

MaybeType<Failure> RunScenarioSteps(const rapidjson::Value& scenario, DevelopmentHost& host,
                                    const ScenarioSettings& settings, EffectPrinter& printer) {
  if (scenario.HasMember("steps")) {
    std::size_t index = 0;
    for (const auto& step : scenario["steps"].GetArray()) {
      ++index;
      const std::string kind = step.MemberBegin()->name.GetString();
      printer.Print("step", [&](Writer& writer) {
        writer.Key("index");
        writer.Uint64(index);
        Text(writer, "step", kind);
      });
      const MaybeType<Failure> ran =
          RunStep(kind, step.MemberBegin()->value, host, settings, printer);
      if (ran.Failed()) {
        return Failure{"step " + std::to_string(index) + " (" + kind +
                       "): " + ran.GetFailure().message};
      }
    }
  }
  return FinalWait(host, settings, printer);
}

MaybeType<Failure> RunScenario(const rapidjson::Value& scenario, Abi::PluginLoadFunction load,
                               const ScenarioSettings& settings, const LinePrinter& print) {
  MaybeType<Failure> checked = CheckScenario(scenario);
  if (checked.Failed()) return checked;
  DevelopmentHost host;
  EffectPrinter printer(host, print);
  MaybeType<Failure> packet = SetScenarioPacket(scenario, host, settings);
  if (packet.Failed()) return packet;
  if (!host.Load(load, settings.coreVersion)) {
    return Failure{"the plugin's export returned no function table"};
  }
  const Abi::PluginHostRecord& record = host.Record();
  printer.Print("loaded", [&](Writer& writer) {
    Text(writer, "name", record.name != nullptr ? record.name : "");
    Text(writer, "pluginApi", VersionText(record.major, record.minor, record.patch));
    Text(writer, "coreApi",
         VersionText(settings.coreVersion.major, settings.coreVersion.minor,
                     settings.coreVersion.patch));
    writer.Key("endpoints");
    writer.StartArray();
    for (const EndpointInfo& endpoint : host.Endpoints()) {
      writer.String(
          (std::string(MethodText(endpoint.method)) + " " + endpoint.urlTemplate).c_str());
    }
    writer.EndArray();
  });
  const bool started = host.Start();
  printer.Print("started", [&](Writer& writer) {
    writer.Key("ok");
    writer.Bool(started);
  });
  MaybeType<Failure> ran = RunScenarioSteps(scenario, host, settings, printer);
  host.Stop();
  const Abi::PluginMemoryStats stats = host.MemoryStats();
  printer.Print("stopped", [&](Writer& writer) {
    writer.Key("bytesInUse");
    writer.Uint64(stats.allocatedBytes - stats.freedBytes);
  });
  return ran;
}

}  // namespace Kavren::Host
