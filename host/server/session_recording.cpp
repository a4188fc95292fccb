// Writing a development-server session as a scenario file.
#include "host/server/session_recording.h"

#include <cstdio>
#include <fstream>
#include <string_view>

#include "host/core/command.h"
#include "host/core/document.h"
#include "host/core/method.h"
#include "host/describe/api_help.h"

namespace Kavren::Host {
namespace {

// The host's own reads (invokes, log, memory, packet) change nothing, and what they answer
// depends on when they ran: a replay does without them.
bool OnlyReads(const std::string& step) { return step.starts_with("read "); }

}  // namespace

MaybeType<Failure> SessionRecording::Begin(const rapidjson::Value* packet,
                                           const rapidjson::Value* steps) {
  std::lock_guard lock(mutex_);
  scenario_.SetObject();
  auto& allocator = scenario_.GetAllocator();
  if (packet != nullptr)
    scenario_.AddMember("packet", rapidjson::Value(*packet, allocator), allocator);
  rapidjson::Value list(rapidjson::kArrayType);
  if (steps != nullptr && steps->IsArray()) list.CopyFrom(*steps, allocator);
  scenario_.AddMember("steps", list, allocator);
  Write();
  return written_;
}

void SessionRecording::Add(const char* step, const rapidjson::Value& argument) {
  if (OnlyReads(step)) return;
  std::lock_guard lock(mutex_);
  AddLocked(step, argument);
  Write();
}

void SessionRecording::AddCall(const std::string& method, const std::string& path,
                               const std::string& body, const std::string& contentType) {
  if (!MethodCode(method)) return;
  rapidjson::Document call(rapidjson::kObjectType);
  auto& allocator = call.GetAllocator();
  call.AddMember("method", rapidjson::Value(method.c_str(), allocator), allocator);
  call.AddMember("path", rapidjson::Value(path.c_str(), allocator), allocator);
  if (!body.empty()) {
    const bool yaml =
        contentType.starts_with("application/x-yaml") || contentType.starts_with("text/x-yaml");
    rapidjson::Document value;
    if ((yaml ? ParseYamlText(body, value) : ParseJsonText(body, value)).Succeeded()) {
      call.AddMember("body", rapidjson::Value(value, allocator), allocator);
    }
  }
  Add(StepName(CommandKind::kCallEndpoint), call);
}

MaybeType<Failure> SessionRecording::LastWrite() const {
  std::lock_guard lock(mutex_);
  return written_;
}

void SessionRecording::AddLocked(const char* step, const rapidjson::Value& argument) {
  auto& allocator = scenario_.GetAllocator();
  if (!scenario_.IsObject()) {
    scenario_.SetObject();
    scenario_.AddMember("steps", rapidjson::Value(rapidjson::kArrayType), allocator);
  }
  rapidjson::Value entry(rapidjson::kObjectType);
  entry.AddMember(rapidjson::Value(step, allocator), rapidjson::Value(argument, allocator),
                  allocator);
  scenario_["steps"].PushBack(entry, allocator);
  const char* wait = StepName(CommandKind::kWaitForJobs);
  if (std::string_view(step) != wait) AddLocked(wait, rapidjson::Value());
}

void SessionRecording::Write() {
  if (!scenario_.IsObject()) return;
  // A new file renamed over the old one: a reader never sees half a scenario.
  const std::string partial = path_ + ".partial";
  {
    std::ofstream file(partial, std::ios::binary | std::ios::trunc);
    file << JsonText(scenario_) << "\n";
    file.close();
    if (!file) {
      written_ = Failure{"cannot write " + partial};
      return;
    }
  }
  if (std::rename(partial.c_str(), path_.c_str()) != 0) {
    written_ = Failure{"cannot write " + path_};
    return;
  }
  written_ = {};
}

}  // namespace Kavren::Host
