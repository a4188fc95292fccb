// Traces as JSON, and their reduction.
#include "host/validate/trace.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <fstream>
#include <sstream>

#include "host/core/document.h"

namespace Kavren::Host {
namespace {

constexpr OpKind kKinds[] = {OpKind::kCall, OpKind::kEvent, OpKind::kJob,
                             OpKind::kLoad, OpKind::kStop,  OpKind::kStats};

template <class Writer>
void WriteOp(Writer& writer, const TraceOp& op) {
  writer.StartObject();
  writer.Key("thread");
  writer.Int(op.thread);
  writer.Key("op");
  writer.String(OpKindName(op.kind));
  writer.Key("module");
  writer.Int(op.module);
  if (op.kind == OpKind::kCall) {
    writer.Key("endpoint");
    writer.String(op.endpoint.c_str());
  }
  if (op.kind == OpKind::kCall || op.kind == OpKind::kEvent) {
    writer.Key("variant");
    writer.String(op.variant.c_str());
  }
  if (op.kind == OpKind::kEvent) {
    writer.Key("subscription");
    writer.Int(op.subscription);
  }
  writer.Key("seed");
  writer.Uint64(op.seed);
  writer.EndObject();
}

int IntMember(const rapidjson::Value& object, const char* name, int fallback) {
  const auto found = object.FindMember(name);
  return found != object.MemberEnd() && found->value.IsInt() ? found->value.GetInt() : fallback;
}

bool BoolMember(const rapidjson::Value& object, const char* name, bool fallback) {
  const auto found = object.FindMember(name);
  return found != object.MemberEnd() && found->value.IsBool() ? found->value.GetBool() : fallback;
}

std::string TextMember(const rapidjson::Value& object, const char* name) {
  const auto found = object.FindMember(name);
  return found != object.MemberEnd() && found->value.IsString() ? found->value.GetString() : "";
}

std::uint64_t SeedMember(const rapidjson::Value& object, const char* name) {
  const auto found = object.FindMember(name);
  return found != object.MemberEnd() && found->value.IsUint64() ? found->value.GetUint64() : 0;
}

constexpr RunPhase kPhases[] = {RunPhase::kExport, RunPhase::kStart, RunPhase::kTraffic,
                                RunPhase::kStop, RunPhase::kRun};

template <class Writer>
void WriteNumbers(Writer& writer, const char* name, const std::vector<std::uint64_t>& numbers) {
  writer.Key(name);
  writer.StartArray();
  for (std::uint64_t number : numbers) writer.Uint64(number);
  writer.EndArray();
}

template <class Writer>
void WriteRefusals(Writer& writer, const RefusalPlan& plan) {
  writer.Key("refusals");
  writer.StartObject();
  writer.Key("phase");
  writer.String(RunPhaseName(plan.phase));
  WriteNumbers(writer, "numbers", plan.numbers);
  writer.Key("ratePerMillion");
  writer.Uint(plan.ratePerMillion);
  writer.Key("seed");
  writer.Uint64(plan.seed);
  WriteNumbers(writer, "refused", plan.refused);
  writer.EndObject();
}

MaybeType<Failure> ReadNumbers(const rapidjson::Value& object, const char* name,
                               std::vector<std::uint64_t>& numbers) {
  const auto found = object.FindMember(name);
  if (found == object.MemberEnd()) return {};
  if (!found->value.IsArray()) return Failure{std::string("refusals: ") + name + " is no array"};
  for (const rapidjson::Value& item : found->value.GetArray()) {
    if (!item.IsUint64()) return Failure{std::string("refusals: ") + name + " holds a non-number"};
    numbers.push_back(item.GetUint64());
  }
  return {};
}

MaybeType<Failure> ReadRefusals(const rapidjson::Value& object, RefusalPlan& plan) {
  const std::string phase = TextMember(object, "phase");
  for (RunPhase candidate : kPhases) {
    if (phase == RunPhaseName(candidate)) plan.phase = candidate;
  }
  if (!plan.Active()) return Failure{"refusals: unknown phase \"" + phase + "\""};
  MaybeType<Failure> numbers = ReadNumbers(object, "numbers", plan.numbers);
  if (numbers.Failed()) return numbers;
  const auto rate = object.FindMember("ratePerMillion");
  if (rate != object.MemberEnd() && (!rate->value.IsUint() || rate->value.GetUint() > 1000000)) {
    return Failure{"refusals: ratePerMillion must be 0 to 1000000"};
  }
  if (rate != object.MemberEnd()) plan.ratePerMillion = rate->value.GetUint();
  plan.seed = SeedMember(object, "seed");
  return ReadNumbers(object, "refused", plan.refused);
}

}  // namespace

const char* OpKindName(OpKind kind) {
  switch (kind) {
    case OpKind::kCall:
      return "call";
    case OpKind::kEvent:
      return "event";
    case OpKind::kJob:
      return "job";
    case OpKind::kLoad:
      return "load";
    case OpKind::kStop:
      return "stop";
    case OpKind::kStats:
      return "stats";
  }
  return "call";
}

const char* RunPhaseName(RunPhase phase) {
  switch (phase) {
    case RunPhase::kNone:
      return "none";
    case RunPhase::kExport:
      return "export";
    case RunPhase::kStart:
      return "start";
    case RunPhase::kTraffic:
      return "traffic";
    case RunPhase::kStop:
      return "stop";
    case RunPhase::kRun:
      return "run";
  }
  return "none";
}

std::string TraceToJson(const Trace& trace) {
  rapidjson::StringBuffer buffer;
  rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
  writer.SetFormatOptions(rapidjson::kFormatSingleLineArray);
  writer.StartObject();
  writer.Key("version");
  writer.Int(Trace::kVersion);
  writer.Key("check");
  writer.String(trace.check.c_str());
  writer.Key("seed");
  writer.Uint64(trace.seed);
  writer.Key("threads");
  writer.Int(trace.threads);
  writer.Key("policy");
  writer.StartObject();
  const HostPolicy& policy = trace.policy;
  const std::pair<const char*, int> numbers[] = {
      {"failAnswers", policy.failAnswers},
      {"nullAnswers", policy.nullAnswers},
      {"lateAnswers", policy.lateAnswers},
      {"reenterPublish", policy.reenterPublish},
      {"reenterJobs", policy.reenterJobs},
      {"holdJobs", policy.holdJobs},
      {"stopDuringStart", policy.stopDuringStart},
      {"changeDuringPublish", policy.changeDuringPublish}};
  for (const auto& [name, value] : numbers) {
    writer.Key(name);
    writer.Int(value);
  }
  const std::pair<const char*, bool> flags[] = {
      {"reenterDuringStop", policy.reenterDuringStop},
      {"runJobsScheduledByStop", policy.runJobsScheduledByStop},
      {"sampleMemory", policy.sampleMemory},
      {"checkResources", policy.checkResources},
      {"checkMirrors", policy.checkMirrors},
      {"compareAfterCalls", policy.compareAfterCalls}};
  for (const auto& [name, value] : flags) {
    writer.Key(name);
    writer.Bool(value);
  }
  writer.EndObject();
  writer.Key("ops");
  writer.StartArray();
  for (const TraceOp& op : trace.ops) WriteOp(writer, op);
  writer.EndArray();
  if (trace.refusals.Active()) WriteRefusals(writer, trace.refusals);
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

MaybeType<Failure, Trace> TraceFromJson(const std::string& json) {
  rapidjson::Document document;
  const MaybeType<Failure> parsed = ParseJsonText(json, document);
  if (parsed.Failed()) return parsed.GetFailure();
  if (!document.IsObject() || IntMember(document, "version", 0) != Trace::kVersion) {
    return Failure{"not a validator trace of version " + std::to_string(Trace::kVersion)};
  }
  Trace trace;
  trace.check = TextMember(document, "check");
  trace.seed = SeedMember(document, "seed");
  trace.threads = IntMember(document, "threads", 1);
  if (trace.threads < 1 || trace.threads > 64) return Failure{"threads must be 1 to 64"};
  const auto policy = document.FindMember("policy");
  if (policy != document.MemberEnd() && policy->value.IsObject()) {
    const rapidjson::Value& p = policy->value;
    HostPolicy& out = trace.policy;
    out.failAnswers = IntMember(p, "failAnswers", 0);
    out.nullAnswers = IntMember(p, "nullAnswers", 0);
    out.lateAnswers = IntMember(p, "lateAnswers", 0);
    out.reenterPublish = IntMember(p, "reenterPublish", 0);
    out.reenterJobs = IntMember(p, "reenterJobs", 0);
    out.holdJobs = IntMember(p, "holdJobs", 0);
    out.reenterDuringStop = BoolMember(p, "reenterDuringStop", false);
    out.runJobsScheduledByStop = BoolMember(p, "runJobsScheduledByStop", false);
    out.sampleMemory = BoolMember(p, "sampleMemory", true);
    out.checkResources = BoolMember(p, "checkResources", true);
    out.checkMirrors = BoolMember(p, "checkMirrors", false);
    out.compareAfterCalls = BoolMember(p, "compareAfterCalls", false);
    out.stopDuringStart = IntMember(p, "stopDuringStart", 0);
    out.changeDuringPublish = IntMember(p, "changeDuringPublish", 0);
  }
  const auto ops = document.FindMember("ops");
  if (ops == document.MemberEnd() || !ops->value.IsArray()) return Failure{"a trace needs ops"};
  for (const rapidjson::Value& item : ops->value.GetArray()) {
    if (!item.IsObject()) return Failure{"an op is not an object"};
    TraceOp op;
    op.thread = IntMember(item, "thread", 0);
    if (op.thread < 0 || op.thread >= trace.threads)
      return Failure{"an op's thread is out of range"};
    const std::string kind = TextMember(item, "op");
    bool known = false;
    for (OpKind candidate : kKinds) {
      if (kind == OpKindName(candidate)) {
        op.kind = candidate;
        known = true;
      }
    }
    if (!known) return Failure{"unknown op \"" + kind + "\""};
    op.module = IntMember(item, "module", 0);
    if (op.module < 0 || op.module > 1) return Failure{"an op's module must be 0 or 1"};
    op.endpoint = TextMember(item, "endpoint");
    op.variant = TextMember(item, "variant");
    if (op.variant.empty()) op.variant = "valid";
    op.subscription = IntMember(item, "subscription", 0);
    op.seed = SeedMember(item, "seed");
    trace.ops.push_back(op);
  }
  const auto refusals = document.FindMember("refusals");
  if (refusals != document.MemberEnd()) {
    if (!refusals->value.IsObject()) return Failure{"refusals is not an object"};
    const MaybeType<Failure> read = ReadRefusals(refusals->value, trace.refusals);
    if (read.Failed()) return read.GetFailure();
  }
  return trace;
}

MaybeType<Failure, Trace> LoadTraceFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Failure{"cannot read " + path};
  std::ostringstream text;
  text << in.rdbuf();
  MaybeType<Failure, Trace> trace = TraceFromJson(text.str());
  if (trace.Failed()) return Failure{path + ": " + trace.GetFailure().message};
  return trace;
}

MaybeType<Failure> SaveTraceFile(const Trace& trace, const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << TraceToJson(trace);
  if (!out) return Failure{"cannot write " + path};
  return {};
}

Trace ShrinkTrace(const Trace& failing, const std::function<bool(const Trace&)>& fails,
                  int budget) {
  Trace best = failing;
  std::size_t granularity = 2;
  const auto without = [&](std::size_t begin, std::size_t end) {
    Trace candidate = best;
    candidate.ops.erase(candidate.ops.begin() + static_cast<std::ptrdiff_t>(begin),
                        candidate.ops.begin() + static_cast<std::ptrdiff_t>(end));
    return candidate;
  };
  while (best.ops.size() >= 2 && budget > 0) {
    const std::size_t size = best.ops.size();
    const std::size_t chunk = (size + granularity - 1) / granularity;
    bool reduced = false;
    // Complements first: drop one chunk at a time.
    for (std::size_t begin = 0; begin < size && budget > 0; begin += chunk) {
      Trace candidate = without(begin, std::min(size, begin + chunk));
      --budget;
      if (fails(candidate)) {
        best = std::move(candidate);
        granularity = std::max<std::size_t>(granularity - 1, 2);
        reduced = true;
        break;
      }
    }
    if (reduced) continue;
    if (granularity >= size) break;
    granularity = std::min(size, granularity * 2);
  }
  // One last pass over single operations, for a 1-minimal result.
  for (std::size_t index = 0; index < best.ops.size() && budget > 0;) {
    Trace candidate = without(index, index + 1);
    --budget;
    if (fails(candidate)) {
      best = std::move(candidate);
    } else {
      ++index;
    }
  }
  // Threads no operation uses any more go.
  int used = 0;
  for (const TraceOp& op : best.ops) used = std::max(used, op.thread + 1);
  if (used > 0 && used < best.threads) {
    Trace candidate = best;
    candidate.threads = used;
    if (budget > 0 && fails(candidate)) best = candidate;
  }
  return best;
}

}  // namespace Kavren::Host
