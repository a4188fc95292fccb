// The checks' table, selection and seeds, and the results their children answer.
#include "host/validate/checks.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <sstream>

#include "host/core/document.h"
#include "host/validate/alloc.h"

namespace Kavren::Host {

std::uint64_t MixSeed(std::uint64_t value) {
  value += 0x9E3779B97F4A7C15ull;
  value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
  value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
  return value ^ (value >> 31);
}

std::uint64_t CheckSeed(std::uint64_t master, const std::string& id) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : id) hash = (hash ^ c) * 0x100000001b3ull;
  return MixSeed(master ^ hash);
}

std::vector<Finding> RunTraceFindings(const CheckContext& context, const Trace& trace) {
  return RunTrace(context.load, trace, context.dictionary).findings;
}

CheckBodyResult RunCheckBody(const CheckSpec& check, const CheckContext& context) {
  return check.body(check, context);
}

std::string BodyResultToJson(const CheckBodyResult& result) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("status");
  writer.String(result.status.c_str());
  writer.Key("message");
  writer.String(result.message.c_str());
  writer.Key("rounds");
  writer.Uint64(result.rounds);
  writer.Key("ops");
  writer.Uint64(result.ops);
  writer.Key("findings");
  writer.StartArray();
  for (const Finding& finding : result.findings) {
    writer.StartObject();
    writer.Key("kind");
    writer.String(finding.kind.c_str());
    writer.Key("message");
    writer.String(finding.message.c_str());
    writer.EndObject();
  }
  writer.EndArray();
  writer.Key("trace");
  if (result.trace) {
    const std::string trace = TraceToJson(*result.trace);
    writer.String(trace.c_str(), static_cast<rapidjson::SizeType>(trace.size()));
  } else {
    writer.Null();
  }
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::optional<CheckBodyResult> BodyResultFromJson(const std::string& json) {
  rapidjson::Document document;
  if (ParseJsonText(json, document).Failed() || !document.IsObject()) return std::nullopt;
  CheckBodyResult result;
  const auto text = [&](const char* name) {
    const auto found = document.FindMember(name);
    return found != document.MemberEnd() && found->value.IsString()
               ? std::string(found->value.GetString(), found->value.GetStringLength())
               : std::string();
  };
  const auto number = [&](const char* name) {
    const auto found = document.FindMember(name);
    return found != document.MemberEnd() && found->value.IsUint64() ? found->value.GetUint64() : 0;
  };
  result.status = text("status");
  result.message = text("message");
  result.rounds = number("rounds");
  result.ops = number("ops");
  const auto findings = document.FindMember("findings");
  if (findings != document.MemberEnd() && findings->value.IsArray()) {
    for (const auto& item : findings->value.GetArray()) {
      if (!item.IsObject() || !item.HasMember("kind") || !item.HasMember("message")) continue;
      result.findings.push_back(Finding{item["kind"].GetString(), item["message"].GetString()});
    }
  }
  const std::string trace = text("trace");
  if (!trace.empty()) {
    MaybeType<Failure, Trace> parsed = TraceFromJson(trace);
    if (parsed.Succeeded()) result.trace = parsed.Value();
  }
  return result;
}

}  // namespace Kavren::Host
