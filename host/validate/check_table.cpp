// The checks' table and their selection by pattern.
#include "host/validate/check_table.h"

#include <sstream>

#include "host/validate/checks_alloc.h"
#include "host/validate/checks_inputs.h"
#include "host/validate/checks_lifecycle.h"
#include "host/validate/checks_load.h"
#include "host/validate/checks_memory.h"
#include "host/validate/checks_reentry.h"
#include "host/validate/checks_threads.h"
#include "host/validate/checks_wire.h"

namespace Kavren::Host {

const std::vector<CheckSpec>& AllChecks() {
  using namespace detail;
  static const std::vector<CheckSpec> checks = {
      {"load.export", "the export fills the host record; load, start and stop", 20, false, false,
       Probed<LoadExport>},
      {"api.block", "the API block's records are well formed and refer to described types", 20,
       false, false, Probed<ApiBlock>},
      {"load.second-module", "a second module loaded, served and stopped beside the first", 30,
       false, false, Probed<LoadSecondModule>},
      {"load.concurrent-load",
       "endpoint calls on several threads while another loads and stops a second module", 40, false,
       false, Probed<LoadConcurrentLoad>},
      {"lifecycle.stop",
       "no host call after Stop returned, also from jobs Stop scheduled; subscriptions "
       "balanced",
       20, false, false, Probed<LifecycleStop>},
      {"lifecycle.jobs-after-stop", "jobs held until after Stop do nothing", 20, false, false,
       Probed<LifecycleJobsAfterStop>},
      {"lifecycle.stop-mid-run", "Stop while other threads keep calling (each call before it)", 30,
       false, false, Probed<LifecycleStopMidRun>},
      {"lifecycle.stop-during-start",
       "the host stops the module from inside each host function its Start calls; Start answers "
       "false",
       30, false, false, Probed<LifecycleStopDuringStart>},
      {"reentry.publish", "an endpoint called from inside each PublishEvent", 20, false, false,
       Probed<ReentryPublish>},
      {"reentry.jobs", "an endpoint called from inside host functions a job calls", 20, false,
       false, Probed<ReentryJobs>},
      {"reentry.during-stop",
       "an endpoint called from inside host functions Stop calls is refused and has no effect", 20,
       false, false, Probed<ReentryDuringStop>},
      {"endpoints.arguments",
       "every endpoint with valid, malformed and out-of-range arguments; replies well formed", 30,
       false, false, Probed<EndpointsArguments>},
      {"endpoints.binding",
       "requests whose arguments cannot bind answer the binding failure, and their handlers never "
       "run",
       30, false, false, Probed<EndpointsBinding>},
      {"events.payloads", "valid and broken payloads to every subscription", 30, false, false,
       Probed<EventsPayloads>},
      {"wire.host-answers",
       "Calls answered with success, a failure status, a null value or late; every response "
       "released once",
       30, false, false, Probed<WireHostAnswers>},
      {"wire.announcements", "every announcement converts to its event's payload type", 20, false,
       false, Probed<WireAnnouncements>},
      {"wire.resource-get",
       "after each changing call (also one made while an announcement goes out) and at the end, "
       "a GET of each announced resource serves the last announced data",
       30, false, false, Probed<WireResourceGet>},
      {"wire.mirrors",
       "every resource event is published again under OnJsonApiEvent with the same payload", 20,
       false, false, Probed<WireMirrors>},
      {"memory.peak",
       "memory counters never decrease and the peak never exceeds what was allocated, with "
       "several threads delivering events",
       30, false, false, Probed<MemoryPeak>},
      {"memory.baseline", "a second cycle leaves the bytes in use where the first left them", 30,
       false, false, Probed<MemoryBaseline>},
      {"memory.cycles", "no growth over 100 Start/Stop cycles", 90, false, false,
       Probed<MemoryCycles>},
      {"memory.traffic",
       "a push, its jobs and the acknowledgement of what it added return the bytes in use to "
       "where they were",
       30, false, false, Probed<MemoryTraffic>},
      {"threads.random", "random orderings of everything a host may do, on --threads threads", 30,
       true, false, Probed<ThreadsRandom>},
      {"threads.second-module", "random orderings with a second module loaded and stopped", 30,
       true, false, Probed<ThreadsSecondModule>},
      {"threads.pushes", "random event deliveries from every thread at once", 30, true, false,
       Probed<ThreadsPushes>},
      {"alloc.load",
       "each allocation of the export refused in turn: a failed load or a module that keeps "
       "the contract",
       60, false, true, Probed<AllocSweep>},
      {"alloc.start",
       "each allocation of Start refused in turn: nothing held after a false Start, logs "
       "reach the host after a true one",
       60, false, true, Probed<AllocSweep>},
      {"alloc.stop",
       "each allocation of Stop refused in turn: every subscription released, nothing held", 60,
       false, true, Probed<AllocSweep>},
      {"alloc.endpoints",
       "each allocation of every endpoint's call refused in turn: failed replies with a text "
       "and a status, nothing held",
       90, false, true, Probed<AllocSweep>},
      {"alloc.events",
       "each allocation of every event's delivery and its jobs refused in turn: labelled "
       "jobs, nothing held",
       90, false, true, Probed<AllocSweep>},
      {"alloc.random",
       "random orderings with 0.1% to 20% of the plugin's allocations refused: no crash, hang "
       "or leak",
       30, true, true, Probed<AllocRandom>},
  };
  return checks;
}

const CheckSpec* FindCheck(const std::string& id) {
  for (const CheckSpec& check : AllChecks()) {
    if (id == check.id) return &check;
  }
  return nullptr;
}

namespace {

bool Glob(const char* pattern, const char* text) {
  if (*pattern == '\0') return *text == '\0';
  if (*pattern == '*') {
    for (const char* rest = text;; ++rest) {
      if (Glob(pattern + 1, rest)) return true;
      if (*rest == '\0') return false;
    }
  }
  return *pattern == *text && *text != '\0' && Glob(pattern + 1, text + 1);
}

}  // namespace

bool MatchesAny(const std::string& id, const std::string& patterns) {
  std::istringstream list(patterns);
  std::string pattern;
  while (std::getline(list, pattern, ',')) {
    if (pattern.empty()) continue;
    if (Glob(pattern.c_str(), id.c_str())) return true;
    if (pattern.find_first_of("*.") == std::string::npos && id.starts_with(pattern + ".")) {
      return true;
    }
  }
  return false;
}

std::vector<const CheckSpec*> SelectChecks(const std::string& only, const std::string& skip) {
  std::vector<const CheckSpec*> selected;
  for (const CheckSpec& check : AllChecks()) {
    if (!only.empty() && !MatchesAny(check.id, only)) continue;
    if (!skip.empty() && MatchesAny(check.id, skip)) continue;
    selected.push_back(&check);
  }
  return selected;
}

}  // namespace Kavren::Host
