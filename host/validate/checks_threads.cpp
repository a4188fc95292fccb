// The threads.* checks.
#include "host/validate/checks_threads.h"

namespace Kavren::Host::detail {
namespace {

// What every random round compares: the resources and their mirrors.
HostPolicy ComparingPolicy() {
  HostPolicy policy;
  policy.checkResources = true;
  policy.checkMirrors = true;
  return policy;
}

// Runs the context's round: a random trace on several threads, weighted by `mix`.
CheckBodyResult ExploreRandom(const CheckSpec& check, const CheckContext& context,
                              const Probe& probe, const Mix& mix, const HostPolicy& policy) {
  CheckContext random = context;
  random.threads = SeveralThreads(context);
  const Trace trace =
      RandomTrace(probe, random, check.id, MixSeed(random.seed + random.round), mix, policy);
  return RunTraces(random, {trace});
}

}  // namespace

CheckBodyResult ThreadsRandom(const CheckSpec& check, const CheckContext& context,
                              const Probe& probe) {
  HostPolicy policy = ComparingPolicy();
  policy.failAnswers = 100;
  policy.nullAnswers = 50;
  policy.lateAnswers = 50;
  policy.reenterPublish = 100;
  policy.reenterJobs = 100;
  policy.holdJobs = 100;
  return ExploreRandom(check, context, probe, Mix{}, policy);
}

CheckBodyResult ThreadsSecondModule(const CheckSpec& check, const CheckContext& context,
                                    const Probe& probe) {
  HostPolicy policy = ComparingPolicy();
  policy.holdJobs = 50;
  return ExploreRandom(check, context, probe, Mix{50, 10, 10, 2, 15, 13}, policy);
}

CheckBodyResult ThreadsPushes(const CheckSpec& check, const CheckContext& context,
                              const Probe& probe) {
  return ExploreRandom(check, context, probe, Mix{5, 80, 10, 5, 0, 0}, ComparingPolicy());
}

}  // namespace Kavren::Host::detail
