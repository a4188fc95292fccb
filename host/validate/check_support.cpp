// What the validator's checks share: the probe, trace building, running traces, results.
#include "host/validate/check_support.h"

#include <algorithm>

#include "host/validate/alloc.h"

namespace Kavren::Host::detail {

Probe ProbePlugin(const CheckContext& context) {
  Probe probe;
  Oracle oracle;
  {
    HostPolicy policy;
    policy.sampleMemory = false;
    ModelHost host(context.load, policy, context.seed, oracle, context.dictionary);
    if (host.Load(0)) {
      if (const ApiModel* model = host.Model()) {
        for (const ApiEndpoint& endpoint : model->Endpoints()) {
          probe.endpoints.push_back(endpoint.name);
        }
      }
      probe.subscribedNames = host.SubscribedNames();
      probe.subscriptions = probe.subscribedNames.size();
    }
    probe.startCalls = host.Counts().callsDuringStart;
    host.Finish();
  }
  probe.findings = oracle.Findings();
  return probe;
}

TraceBuilder::TraceBuilder(const CheckContext& context, const std::string& id, int threads)
    : random_(context.seed) {
  trace_.check = id;
  trace_.seed = context.seed;
  trace_.threads = threads;
}

void TraceBuilder::Call(int thread, const std::string& endpoint, const char* variant, int module) {
  TraceOp op = Op(thread, OpKind::kCall, module);
  op.endpoint = endpoint;
  op.variant = variant;
  trace_.ops.push_back(op);
}

void TraceBuilder::Event(int thread, int subscription, const char* variant) {
  TraceOp op = Op(thread, OpKind::kEvent, 0);
  op.subscription = subscription;
  op.variant = variant;
  trace_.ops.push_back(op);
}

void TraceBuilder::Plain(int thread, OpKind kind, int module) {
  trace_.ops.push_back(Op(thread, kind, module));
}

void TraceBuilder::Traffic(const Probe& probe, int thread, int rounds) {
  for (int round = 0; round < rounds; ++round) {
    for (const std::string& endpoint : probe.endpoints) Call(thread, endpoint);
    for (std::size_t index = 0; index < probe.subscriptions; ++index) {
      Event(thread, static_cast<int>(index));
    }
    for (int job = 0; job < 4; ++job) Plain(thread, OpKind::kJob);
  }
}

TraceOp TraceBuilder::Op(int thread, OpKind kind, int module) {
  TraceOp op;
  op.thread = thread;
  op.kind = kind;
  op.module = module;
  op.seed = random_();
  return op;
}

TraceBuilder DirectedTrace(const CheckContext& context, const std::string& id) {
  TraceBuilder builder(context, id, 1);
  builder.Get().policy.checkResources = false;
  return builder;
}

int SeveralThreads(const CheckContext& context) { return std::max(2, context.threads); }

Trace RandomTrace(const Probe& probe, const CheckContext& context, const std::string& id,
                  std::uint64_t seed, const Mix& mix, const HostPolicy& policy) {
  CheckContext roundContext = context;
  roundContext.seed = seed;
  TraceBuilder builder(roundContext, id, context.threads);
  builder.Get().policy = policy;
  Random& random = builder.Rng();
  const int count = 20 + static_cast<int>(random() % 100);
  const int total = mix.call + mix.event + mix.job + mix.stats + mix.load + mix.stop;
  for (int index = 0; index < count; ++index) {
    const int thread = static_cast<int>(random() % static_cast<std::uint64_t>(context.threads));
    int roll = static_cast<int>(random() % static_cast<std::uint64_t>(total));
    const char* variant = random() % 10 < 7 ? "valid" : kVariants[1 + random() % 2];
    if ((roll -= mix.call) < 0) {
      if (probe.endpoints.empty()) continue;
      if (random() % 10 == 0) variant = "unbindable";
      // Module 1 gets calls too, when it has been loaded.
      builder.Call(thread, probe.endpoints[random() % probe.endpoints.size()], variant,
                   random() % 4 == 0 ? 1 : 0);
    } else if ((roll -= mix.event) < 0) {
      builder.Event(thread, static_cast<int>(random() % 64), variant);
    } else if ((roll -= mix.job) < 0) {
      builder.Plain(thread, OpKind::kJob);
    } else if ((roll -= mix.stats) < 0) {
      builder.Plain(thread, OpKind::kStats);
    } else if ((roll -= mix.load) < 0) {
      builder.Plain(thread, OpKind::kLoad, 1);
    } else {
      // Module 0 stops mid-run now and then; module 1 more often.
      builder.Plain(thread, OpKind::kStop, random() % 8 == 0 ? 0 : 1);
    }
  }
  return builder.Get();
}

void KeepPending(const CheckContext& context, const Trace& trace) {
  if (!context.pendingTracePath.empty()) {
    const MaybeType<Failure> saved = SaveTraceFile(trace, context.pendingTracePath);
    (void)saved;
  }
}

CheckBodyResult Fail(std::vector<Finding> findings, const Trace* trace) {
  CheckBodyResult result;
  result.status = "fail";
  result.findings = std::move(findings);
  if (!result.findings.empty()) {
    result.message = result.findings.front().kind + ": " + result.findings.front().message;
  }
  if (trace != nullptr) result.trace = *trace;
  return result;
}

CheckBodyResult Skip(const std::string& why) {
  CheckBodyResult result;
  result.status = "skip";
  result.message = why;
  return result;
}

CheckBodyResult RunTraces(const CheckContext& context, const std::vector<Trace>& traces,
                          RunCounts* counts) {
  CheckBodyResult result;
  for (const Trace& trace : traces) {
    KeepPending(context, trace);
    const TraceOutcome outcome = RunTrace(context.load, trace, context.dictionary);
    ++result.rounds;
    result.ops += outcome.counts.ops;
    if (counts != nullptr) {
      counts->callsDuringStop += outcome.counts.callsDuringStop;
      counts->resourcesCompared += outcome.counts.resourcesCompared;
      counts->events += outcome.counts.events;
      counts->stoppedDuringStart += outcome.counts.stoppedDuringStart;
      counts->resourceEvents += outcome.counts.resourceEvents;
      if (counts->unservedResource.empty()) {
        counts->unservedResource = outcome.counts.unservedResource;
      }
    }
    if (!outcome.findings.empty()) {
      CheckBodyResult failed = Fail(outcome.findings, &trace);
      failed.rounds = result.rounds;
      failed.ops = result.ops;
      return failed;
    }
  }
  return result;
}

CheckBodyResult RunDirectedTraffic(const CheckSpec& check, const CheckContext& context,
                                   const Probe& probe, int rounds,
                                   void (*adjust)(HostPolicy& policy), RunCounts* counts) {
  TraceBuilder builder = DirectedTrace(context, check.id);
  adjust(builder.Get().policy);
  builder.Traffic(probe, 0, rounds);
  return RunTraces(context, {builder.Get()}, counts);
}

}  // namespace Kavren::Host::detail
