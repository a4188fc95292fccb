// The host commands: one model for the scenario steps and the /_host/ routes,
// parsed from the same JSON objects.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "host/core/development_host.h"
#include "host/core/maybe.h"

namespace Kavren::Host {

enum class CommandKind {
  kSetPacket,
  kSetPacketFile,
  kClearPacket,
  kPushServerMessage,
  kFailNextInvoke,
  kCallEndpoint,
  kWaitForJobs,
  kReadInvokes,
  kReadLog,
  kReadMemory,
  kReadPacket,
};

/// One command's scenario step name and, when it is offered over HTTP, its
/// method and route under /_host/.
struct CommandName {
  CommandKind kind;
  const char* step;
  const char* method;
  const char* route;
};

inline constexpr CommandName kCommandNames[] = {
    {CommandKind::kSetPacket, "set packet", "PUT", "login-data-packet"},
    {CommandKind::kClearPacket, "clear packet", "DELETE", "login-data-packet"},
    {CommandKind::kPushServerMessage, "push server message", "POST", "server-messages"},
    {CommandKind::kFailNextInvoke, "fail next invoke", "POST", "invoke-failures"},
    {CommandKind::kWaitForJobs, "wait for jobs", "POST", "wait-for-jobs"},
    {CommandKind::kReadInvokes, "read invokes", "GET", "invokes"},
    {CommandKind::kReadLog, "read log", "GET", "log"},
    {CommandKind::kReadMemory, "read memory", "GET", "memory"},
    {CommandKind::kReadPacket, "read packet", "GET", "login-data-packet"},
    // Files are the scenario's; over HTTP an endpoint is called at its own path.
    {CommandKind::kSetPacketFile, "set packet file", nullptr, nullptr},
    {CommandKind::kCallEndpoint, "call endpoint", nullptr, nullptr},
};

/// The command of a scenario step name, or of a method and route under /_host/.
[[nodiscard]] std::optional<CommandKind> CommandOfStep(std::string_view step);
[[nodiscard]] std::optional<CommandKind> CommandOfRoute(std::string_view method,
                                                        std::string_view route);
[[nodiscard]] const char* StepName(CommandKind kind);

/// A parsed command and its arguments.
struct Command {
  CommandKind kind = CommandKind::kReadMemory;
  /// The packet (set packet) or the message body (push server message).
  rapidjson::Document value;
  /// set packet file: the file name as written.
  std::string file;
  // push server message
  std::string typeName;
  std::string clientId;
  std::string subtopic;
  // fail next invoke
  std::int32_t status = 503;
  std::string errorText;
  // call endpoint: the call and the method as written.
  EndpointCall call;
  std::string methodText;
  /// wait for jobs: the longest wait, when the command gave one.
  std::optional<int> timeoutMs;
};

/// Reads `argument` (the step's value or the request body; null when there is
/// none) into `command` as a command of `kind`. Fails when it has the wrong shape.
[[nodiscard]] MaybeType<Failure> ParseCommand(CommandKind kind, const rapidjson::Value& argument,
                                              Command& command);

/// Where a command finds files and how long it may wait.
struct CommandSettings {
  std::string baseDirectory = ".";
  /// The longest "wait for jobs", in milliseconds.
  int jobTimeoutMs = 10000;
};

/// What a command did.
struct CommandResult {
  /// Compact JSON of what it answers: the read commands' records (the packet, or null
  /// when none is set), the number
  /// of receivers of a push ({"delivered": N}), {"done": bool} of a wait; empty
  /// for the others.
  std::string json;
  /// call endpoint: the endpoint's reply, or why no endpoint was called.
  MaybeType<Failure, EndpointReply> reply = EndpointReply{};
};

/// Runs a parsed command against `host` on the calling thread. Fails when the packet
/// cannot be read or set, or the message body cannot be sent.
[[nodiscard]] MaybeType<Failure, CommandResult> ExecuteCommand(DevelopmentHost& host,
                                                               const Command& command,
                                                               const CommandSettings& settings);

/// The memory statistics as the host shows them: the six counters and bytesInUse.
[[nodiscard]] std::string MemoryStatsJson(const Abi::PluginMemoryStats& stats);

}  // namespace Kavren::Host
