// Running a scenario against a loaded plugin and printing its effects as JSON lines.
#include "host/scenario.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>

#include "host/document.h"
#include "host/messages.h"

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

std::string MethodName(std::int32_t method) {
  static constexpr const char* kTexts[] = {"",        "DELETE", "GET",  "HEAD",
                                           "OPTIONS", "PATCH",  "POST", "PUT"};
  return method >= 0 && method < 8 ? kTexts[method] : "";
}

std::optional<std::int32_t> MethodCode(const std::string& text) {
  for (std::int32_t code = 1; code < 8; ++code) {
    if (MethodName(code) == text) return code;
  }
  return std::nullopt;
}

std::string ToJson(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  Writer writer(buffer);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

// Prints every effect the host reports, one line at a time.
class EffectPrinter : public HostObserver {
 public:
  explicit EffectPrinter(const LinePrinter& print) : print_(print) {}

  template <class Fill>
  void Print(const char* effect, Fill fill) {
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writer.StartObject();
    Text(writer, "effect", effect);
    fill(writer);
    writer.EndObject();
    std::lock_guard lock(mutex_);
    print_(std::string(buffer.GetString(), buffer.GetSize()));
  }

  void OnLog(const LogLine& line) override {
    Print("log", [&](Writer& writer) {
      writer.Key("level");
      writer.Int(line.level);
      Text(writer, "message", line.message);
    });
  }
  void OnEvent(const PublishedEvent& event) override {
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
  void OnInvoke(const Invocation& invocation) override {
    Print("invoke", [&](Writer& writer) {
      Text(writer, "service", invocation.service);
      Text(writer, "method", invocation.method);
      Raw(writer, "arguments", invocation.argumentsJson);
      writer.Key("status");
      writer.Int(invocation.status);
      if (!invocation.errorText.empty()) Text(writer, "errorText", invocation.errorText);
    });
  }
  void OnJobScheduled(const std::string& label) override {
    Print("job", [&](Writer& writer) { Text(writer, "label", label); });
  }

 private:
  const LinePrinter& print_;
  // Keeps lines whole when several host threads report at once.
  std::mutex mutex_;
};

class Runner {
 public:
  Runner(const ScenarioSettings& settings, EffectPrinter& printer, DevelopmentHost& host)
      : settings_(settings), printer_(printer), host_(host) {}

  bool Packet(const rapidjson::Value& packet, std::string& error) {
    return host_.SetLoginDataPacket(packet, error);
  }

  bool PacketFile(const rapidjson::Value& name, std::string& error) {
    if (!name.IsString()) {
      error = "a packet file is named by a text";
      return false;
    }
    std::string path = name.GetString();
    if (path.empty() || path.front() != '/') path = settings_.baseDirectory + "/" + path;
    rapidjson::Document packet;
    return LoadDocumentFile(path, packet, error) && Packet(packet, error);
  }

  bool Step(const std::string& kind, const rapidjson::Value& argument, std::string& error) {
    if (kind == "set packet") return Packet(argument, error);
    if (kind == "set packet file") return PacketFile(argument, error);
    if (kind == "clear packet") {
      host_.ClearLoginDataPacket();
      return true;
    }
    if (kind == "push server message") return Push(argument, error);
    if (kind == "call endpoint") return CallEndpoint(argument, error);
    if (kind == "fail next invoke") return FailNextInvoke(argument, error);
    if (kind == "wait for jobs") return WaitForJobs(argument, error);
    error = "unknown step \"" + kind + "\"";
    return false;
  }

  bool WaitForJobs(const rapidjson::Value& argument, std::string& error) {
    int timeout = settings_.jobTimeoutMs;
    if (argument.IsObject() && argument.HasMember("timeoutMs")) {
      if (!argument["timeoutMs"].IsInt() || argument["timeoutMs"].GetInt() < 0) {
        error = "\"timeoutMs\" must be a non-negative integer";
        return false;
      }
      timeout = std::min(argument["timeoutMs"].GetInt(), settings_.jobTimeoutMs);
    } else if (!argument.IsNull() && !argument.IsObject()) {
      error = "\"wait for jobs\" takes nothing or {\"timeoutMs\"}";
      return false;
    }
    const bool done = host_.WaitForJobs(std::chrono::milliseconds(timeout));
    printer_.Print("jobs", [&](Writer& writer) {
      writer.Key("done");
      writer.Bool(done);
    });
    return true;
  }

 private:
  static std::string TextMember(const rapidjson::Value& object, const char* key,
                                const std::string& fallback) {
    if (!object.HasMember(key) || !object[key].IsString()) return fallback;
    return object[key].GetString();
  }

  bool Push(const rapidjson::Value& argument, std::string& error) {
    if (!argument.IsObject() || !argument.HasMember("body")) {
      error = "\"push server message\" needs an object with \"body\"";
      return false;
    }
    host_.PushServerMessage(argument["body"], error,
                            TextMember(argument, "typeName", Messages::kSimpleDialogMessageClass),
                            TextMember(argument, "clientId", "dev-client"),
                            TextMember(argument, "subtopic", ""));
    return error.empty();
  }

  bool FailNextInvoke(const rapidjson::Value& argument, std::string& error) {
    std::int32_t status = 503;
    std::string text = Messages::kDefaultInvokeFailure;
    if (argument.IsObject()) {
      if (argument.HasMember("status")) {
        if (!argument["status"].IsInt()) {
          error = "\"status\" must be an integer";
          return false;
        }
        status = argument["status"].GetInt();
      }
      text = TextMember(argument, "errorText", text);
    } else if (!argument.IsNull()) {
      error = "\"fail next invoke\" takes nothing or {\"status\", \"errorText\"}";
      return false;
    }
    host_.FailNextInvoke(status, text);
    return true;
  }

  bool CallEndpoint(const rapidjson::Value& argument, std::string& error) {
    if (!argument.IsObject()) {
      error = "\"call endpoint\" needs an object";
      return false;
    }
    EndpointCall call;
    call.function = TextMember(argument, "function", "");
    call.path = TextMember(argument, "path", "");
    const std::string method = TextMember(argument, "method", call.function.empty() ? "" : "GET");
    const auto code = MethodCode(method);
    if (!code) {
      error = "unknown method \"" + method + "\"";
      return false;
    }
    call.method = *code;
    if (call.function.empty() && call.path.empty()) {
      error = "\"call endpoint\" needs a \"path\" or a \"function\"";
      return false;
    }
    if (argument.HasMember("arguments")) {
      const rapidjson::Value& arguments = argument["arguments"];
      if (arguments.IsObject()) {
        for (auto member = arguments.MemberBegin(); member != arguments.MemberEnd(); ++member) {
          call.arguments.emplace_back(member->name.GetString(), ToJson(member->value));
        }
      } else if (arguments.IsArray()) {
        for (const auto& element : arguments.GetArray()) {
          call.arguments.emplace_back("", ToJson(element));
        }
      } else {
        error = "\"arguments\" must be an object or an array";
        return false;
      }
    }
    if (argument.HasMember("body")) call.body = ToJson(argument["body"]);
    const EndpointReply reply = host_.CallEndpoint(call);
    printer_.Print("reply", [&](Writer& writer) {
      Text(writer, "method", reply.found ? MethodName(reply.method) : method);
      Text(writer, "path", call.path);
      writer.Key("found");
      writer.Bool(reply.found);
      if (reply.found) Text(writer, "function", reply.functionName);
      writer.Key("status");
      writer.Int(reply.status);
      writer.Key("failed");
      writer.Bool(reply.failed);
      if (!reply.errorText.empty()) Text(writer, "errorText", reply.errorText);
      Raw(writer, "value", reply.valueJson);
      if (reply.streamBody) Text(writer, "stream", *reply.streamBody);
    });
    return true;
  }

  const ScenarioSettings& settings_;
  EffectPrinter& printer_;
  DevelopmentHost& host_;
};

std::string VersionText(std::uint32_t major, std::uint32_t minor, std::uint32_t patch) {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

}  // namespace

bool RunScenario(const rapidjson::Value& scenario, Abi::PluginLoadFunction load,
                 const ScenarioSettings& settings, const LinePrinter& print, std::string& error) {
  if (!scenario.IsObject()) {
    error = "a scenario is an object with \"steps\"";
    return false;
  }
  const rapidjson::Value* steps = nullptr;
  if (scenario.HasMember("steps")) {
    steps = &scenario["steps"];
    if (!steps->IsArray()) {
      error = "\"steps\" must be a list";
      return false;
    }
    // Every step is checked for its shape before the plugin is loaded.
    for (const auto& step : steps->GetArray()) {
      if (!step.IsObject() || step.MemberCount() != 1) {
        error = "each step is an object with exactly one key";
        return false;
      }
    }
  }

  EffectPrinter printer(print);
  DevelopmentHost host;
  host.SetObserver(&printer);
  Runner runner(settings, printer, host);

  if (scenario.HasMember("packet") && !runner.Packet(scenario["packet"], error)) return false;
  if (scenario.HasMember("packet file") && !runner.PacketFile(scenario["packet file"], error)) {
    return false;
  }
  if (!host.Load(load, settings.coreVersion)) {
    error = "the plugin's export returned no function table";
    return false;
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
      writer.String((MethodName(endpoint.method) + " " + endpoint.urlTemplate).c_str());
    }
    writer.EndArray();
  });
  const bool started = host.Start();
  printer.Print("started", [&](Writer& writer) {
    writer.Key("ok");
    writer.Bool(started);
  });

  bool ok = true;
  if (steps != nullptr) {
    std::size_t index = 0;
    for (const auto& step : steps->GetArray()) {
      ++index;
      const std::string kind = step.MemberBegin()->name.GetString();
      printer.Print("step", [&](Writer& writer) {
        writer.Key("index");
        writer.Uint64(index);
        Text(writer, "step", kind);
      });
      if (!runner.Step(kind, step.MemberBegin()->value, error)) {
        error = "step " + std::to_string(index) + " (" + kind + "): " + error;
        ok = false;
        break;
      }
    }
  }
  if (ok) ok = runner.WaitForJobs(rapidjson::Value(), error);
  host.Stop();
  const Abi::PluginMemoryStats stats = host.MemoryStats();
  printer.Print("stopped", [&](Writer& writer) {
    writer.Key("bytesInUse");
    writer.Uint64(stats.allocatedBytes - stats.freedBytes);
  });
  host.SetObserver(nullptr);
  return ok;
}

}  // namespace Kavren::Host
