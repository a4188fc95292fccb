// The load.* checks and api.block.
#include "host/validate/checks_load.h"

namespace Kavren::Host::detail {

CheckBodyResult LoadExport(const CheckSpec& check, const CheckContext& context,
                           const Probe& /*probe*/) {
  return RunTraces(context, {DirectedTrace(context, check.id).Get()});
}

CheckBodyResult ApiBlock(const CheckSpec& /*check*/, const CheckContext& context,
                         const Probe& /*probe*/) {
  Oracle oracle;
  {
    HostPolicy policy;
    ModelHost host(context.load, policy, context.seed, oracle, context.dictionary);
    if (host.Load(0) && host.Model() != nullptr) {
      const ApiModel& model = *host.Model();
      for (const ApiEndpoint& endpoint : model.Endpoints()) {
        if (endpoint.urlTemplate.empty() || endpoint.urlTemplate[0] != '/') {
          oracle.Report(FindingKind::kApiBlock,
                        endpoint.name + " has the URL template \"" + endpoint.urlTemplate + "\"");
        }
        if (model.FindEndpoint(endpoint.name) != &endpoint) {
          oracle.Report(FindingKind::kApiBlock, "two endpoints are named " + endpoint.name);
        }
      }
      for (const ApiEvent& event : model.Events()) {
        if (!event.payloadTypeName.empty() && model.FindType(event.payloadTypeName) == nullptr) {
          oracle.Report(FindingKind::kApiBlock, "event " + event.name +
                                                    " names the undescribed payload type " +
                                                    event.payloadTypeName);
        }
      }
    }
    host.Finish();
  }
  if (oracle.Failed()) return Fail(oracle.Findings(), nullptr);
  return {};
}

CheckBodyResult LoadSecondModule(const CheckSpec& check, const CheckContext& context,
                                 const Probe& probe) {
  TraceBuilder builder = DirectedTrace(context, check.id);
  builder.Traffic(probe, 0);
  builder.Plain(0, OpKind::kLoad, 1);
  for (const std::string& endpoint : probe.endpoints) {
    builder.Call(0, endpoint, "valid", 1);
    builder.Call(0, endpoint, "valid", 0);
  }
  builder.Traffic(probe, 0);
  builder.Plain(0, OpKind::kStop, 1);
  builder.Plain(0, OpKind::kLoad, 1);
  builder.Traffic(probe, 0);
  builder.Plain(0, OpKind::kStop, 0);
  for (const std::string& endpoint : probe.endpoints) builder.Call(0, endpoint, "valid", 1);
  return RunTraces(context, {builder.Get()});
}

CheckBodyResult LoadConcurrentLoad(const CheckSpec& check, const CheckContext& context,
                                   const Probe& probe) {
  if (probe.endpoints.empty()) return Skip("the plugin has no endpoint");
  const int threads = SeveralThreads(context);
  TraceBuilder builder = DirectedTrace(context, check.id);
  Trace& trace = builder.Get();
  trace.threads = threads;
  trace.policy.sampleMemory = false;
  for (int cycle = 0; cycle < 40; ++cycle) {
    builder.Plain(0, OpKind::kLoad, 1);
    builder.Plain(0, OpKind::kStop, 1);
  }
  for (int thread = 1; thread < threads; ++thread) {
    for (int call = 0; call < 400; ++call) {
      builder.Call(thread,
                   probe.endpoints[static_cast<std::size_t>(call) % probe.endpoints.size()]);
    }
  }
  return RunTraces(context, {trace});
}

}  // namespace Kavren::Host::detail
