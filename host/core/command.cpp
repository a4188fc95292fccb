// Parsing and running the host commands.
#include "host/core/command.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>

#include "host/core/document.h"
#include "host/core/messages.h"
#include "host/core/method.h"

namespace Kavren::Host {
namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

std::string TextMember(const rapidjson::Value& object, const char* key,
                       const std::string& fallback) {
  if (!object.HasMember(key) || !object[key].IsString()) return fallback;
  return object[key].GetString();
}

std::string ToJson(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  Writer writer(buffer);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

template <class Fill>
std::string WriteJson(Fill fill) {
  rapidjson::StringBuffer buffer;
  Writer writer(buffer);
  fill(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

void Text(Writer& writer, const char* key, const std::string& value) {
  writer.Key(key);
  writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
}

MaybeType<Failure> ParsePush(const rapidjson::Value& argument, Command& command) {
  if (!argument.IsObject() || !argument.HasMember("body")) {
    return Failure{"\"push server message\" needs an object with \"body\""};
  }
  command.value.CopyFrom(argument["body"], command.value.GetAllocator());
  command.typeName = TextMember(argument, "typeName", HostMessages::kSimpleDialogMessageClass);
  command.clientId = TextMember(argument, "clientId", "dev-client");
  command.subtopic = TextMember(argument, "subtopic", "");
  return {};
}

MaybeType<Failure> ParseFailure(const rapidjson::Value& argument, Command& command) {
  command.status = 503;
  command.errorText = HostMessages::kDefaultInvokeFailure;
  if (argument.IsObject()) {
    if (argument.HasMember("status")) {
      if (!argument["status"].IsInt()) {
        return Failure{"\"status\" must be an integer"};
      }
      command.status = argument["status"].GetInt();
    }
    command.errorText = TextMember(argument, "errorText", command.errorText);
  } else if (!argument.IsNull()) {
    return Failure{"\"fail next invoke\" takes nothing or {\"status\", \"errorText\"}"};
  }
  return {};
}

MaybeType<Failure> ParseWait(const rapidjson::Value& argument, Command& command) {
  if (argument.IsObject() && argument.HasMember("timeoutMs")) {
    if (!argument["timeoutMs"].IsInt() || argument["timeoutMs"].GetInt() < 0) {
      return Failure{"\"timeoutMs\" must be a non-negative integer"};
    }
    command.timeoutMs = argument["timeoutMs"].GetInt();
  } else if (!argument.IsNull() && !argument.IsObject()) {
    return Failure{"\"wait for jobs\" takes nothing or {\"timeoutMs\"}"};
  }
  return {};
}

MaybeType<Failure> ParseCall(const rapidjson::Value& argument, Command& command) {
  if (!argument.IsObject()) {
    return Failure{"\"call endpoint\" needs an object"};
  }
  EndpointCall& call = command.call;
  call.function = TextMember(argument, "function", "");
  call.path = TextMember(argument, "path", "");
  command.methodText = TextMember(argument, "method", call.function.empty() ? "" : "GET");
  const auto code = MethodCode(command.methodText);
  if (!code) {
    return Failure{"unknown method \"" + command.methodText + "\""};
  }
  call.method = *code;
  if (call.function.empty() && call.path.empty()) {
    return Failure{"\"call endpoint\" needs a \"path\" or a \"function\""};
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
      return Failure{"\"arguments\" must be an object or an array"};
    }
  }
  if (argument.HasMember("body")) call.body = ToJson(argument["body"]);
  return {};
}

std::string InvocationsJson(const std::vector<Invocation>& invocations) {
  return WriteJson([&](Writer& writer) {
    writer.StartArray();
    for (const Invocation& invocation : invocations) {
      writer.StartObject();
      Text(writer, "service", invocation.service);
      Text(writer, "method", invocation.method);
      writer.Key("arguments");
      writer.RawValue(invocation.argumentsJson.data(), invocation.argumentsJson.size(),
                      rapidjson::kArrayType);
      writer.Key("status");
      writer.Int(invocation.status);
      if (!invocation.errorText.empty()) Text(writer, "errorText", invocation.errorText);
      writer.EndObject();
    }
    writer.EndArray();
  });
}

std::string LogJson(const std::vector<LogLine>& lines) {
  return WriteJson([&](Writer& writer) {
    writer.StartArray();
    for (const LogLine& line : lines) {
      writer.StartObject();
      writer.Key("level");
      writer.Int(line.level);
      Text(writer, "message", line.message);
      writer.EndObject();
    }
    writer.EndArray();
  });
}

}  // namespace

std::optional<CommandKind> CommandOfStep(std::string_view step) {
  for (const CommandName& name : kCommandNames) {
    if (step == name.step) return name.kind;
  }
  return std::nullopt;
}

std::optional<CommandKind> CommandOfRoute(std::string_view method, std::string_view route) {
  for (const CommandName& name : kCommandNames) {
    if (name.route != nullptr && route == name.route && method == name.method) return name.kind;
  }
  return std::nullopt;
}

const char* StepName(CommandKind kind) {
  for (const CommandName& name : kCommandNames) {
    if (name.kind == kind) return name.step;
  }
  return "";
}

MaybeType<Failure> ParseCommand(CommandKind kind, const rapidjson::Value& argument,
                                Command& command) {
  command.kind = kind;
  switch (kind) {
    case CommandKind::kSetPacket:
      command.value.CopyFrom(argument, command.value.GetAllocator());
      return {};
    case CommandKind::kSetPacketFile:
      if (!argument.IsString()) {
        return Failure{"a packet file is named by a text"};
      }
      command.file = argument.GetString();
      return {};
    case CommandKind::kPushServerMessage:
      return ParsePush(argument, command);
    case CommandKind::kFailNextInvoke:
      return ParseFailure(argument, command);
    case CommandKind::kCallEndpoint:
      return ParseCall(argument, command);
    case CommandKind::kWaitForJobs:
      return ParseWait(argument, command);
    case CommandKind::kClearPacket:
    case CommandKind::kReadInvokes:
    case CommandKind::kReadLog:
    case CommandKind::kReadMemory:
    case CommandKind::kReadPacket:
      return {};
  }
  return {};
}

std::string MemoryStatsJson(const Abi::PluginMemoryStats& stats) {
  return WriteJson([&](Writer& writer) {
    writer.StartObject();
    const std::pair<const char*, std::uint64_t> counters[] = {
        {"peakBytes", stats.peakBytes},
        {"peakBlocks", stats.peakBlocks},
        {"allocatedBytes", stats.allocatedBytes},
        {"allocations", stats.allocations},
        {"freedBytes", stats.freedBytes},
        {"frees", stats.frees},
        {"bytesInUse", stats.allocatedBytes - stats.freedBytes},
    };
    for (const auto& [key, value] : counters) {
      writer.Key(key);
      writer.Uint64(value);
    }
    writer.EndObject();
  });
}

MaybeType<Failure, CommandResult> ExecuteCommand(DevelopmentHost& host, const Command& command,
                                                 const CommandSettings& settings) {
  CommandResult result;
  switch (command.kind) {
    case CommandKind::kSetPacket: {
      MaybeType<Failure> set = host.SetLoginDataPacket(command.value);
      if (set.Failed()) return set.GetFailure();
      break;
    }
    case CommandKind::kSetPacketFile: {
      std::string path = command.file;
      if (path.empty() || path.front() != '/') path = settings.baseDirectory + "/" + path;
      rapidjson::Document packet;
      MaybeType<Failure> set = LoadDocumentFile(path, packet);
      if (set.Succeeded()) set = host.SetLoginDataPacket(packet);
      if (set.Failed()) return set.GetFailure();
      break;
    }
    case CommandKind::kClearPacket:
      host.ClearLoginDataPacket();
      break;
    case CommandKind::kPushServerMessage: {
      const MaybeType<Failure, std::size_t> delivered = host.PushServerMessage(
          command.value, command.typeName, command.clientId, command.subtopic);
      if (delivered.Failed()) return delivered.GetFailure();
      result.json = "{\"delivered\":" + std::to_string(delivered.Value()) + "}";
      break;
    }
    case CommandKind::kFailNextInvoke:
      host.FailNextInvoke(command.status, command.errorText);
      break;
    case CommandKind::kCallEndpoint:
      result.reply = host.CallEndpoint(command.call);
      break;
    case CommandKind::kWaitForJobs: {
      const int timeout =
          std::min(command.timeoutMs.value_or(settings.jobTimeoutMs), settings.jobTimeoutMs);
      const bool done = host.WaitForJobs(std::chrono::milliseconds(timeout));
      result.json = done ? "{\"done\":true}" : "{\"done\":false}";
      break;
    }
    case CommandKind::kReadInvokes:
      result.json = InvocationsJson(host.Invocations());
      break;
    case CommandKind::kReadLog:
      result.json = LogJson(host.LogLines());
      break;
    case CommandKind::kReadMemory:
      result.json = MemoryStatsJson(host.MemoryStats());
      break;
    case CommandKind::kReadPacket:
      result.json = host.LoginDataPacketJson().value_or("null");
      break;
  }
  return result;
}

}  // namespace Kavren::Host
