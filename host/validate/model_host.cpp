// The validator's host model: its state (modules, slots, held jobs, counts), loading and
// stopping modules, running jobs, and the trace runner.
#include "host/validate/model_host.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>

#include "host/validate/model_host_thread.h"

namespace Kavren::Host {
namespace detail {

std::string TextOrEmpty(const char* text) { return text != nullptr ? std::string(text) : ""; }

bool ChangesState(const ApiEndpoint& endpoint) { return endpoint.method != Abi::kHttpMethodGet; }

}  // namespace detail

namespace {

constexpr int kMaxQuiesceJobs = 20000;

// Every module any run loaded, for the life of the process (see ModelHost::modules_).
std::vector<void*>& KeptModules() {
  static auto* kept = new std::vector<void*>();
  return *kept;
}

}  // namespace

using detail::currentHost;
using detail::insideJobOf;
using detail::pendingMirrors;
using detail::startingModule;
using detail::stoppingModule;
using detail::TextOrEmpty;
using detail::threadRandom;

ModelHost::ModelHost(Abi::PluginLoadFunction load, const HostPolicy& policy, std::uint64_t seed,
                     Oracle& oracle, std::vector<std::string> dictionary)
    : load_(load),
      policy_(policy),
      oracle_(oracle),
      dictionary_(std::move(dictionary)),
      setupRandom_(seed ^ 0x5e7u) {
  currentHost.store(this);
}

ModelHost::~ModelHost() {
  JoinHelpers();
  for (Module* module : modules_) module->host.store(nullptr);
  currentHost.store(nullptr);
  for (char* text : responseTexts_) std::free(text);
}

void ModelHost::Count(std::uint64_t RunCounts::*counter) {
  std::lock_guard lock(mutex_);
  ++(counts_.*counter);
}

RunCounts ModelHost::Counts() {
  std::lock_guard lock(mutex_);
  return counts_;
}

Random& ModelHost::ThreadRandom() {
  if (threadRandom != nullptr) return *threadRandom;
  // Threads without an operation of their own (the plugin's Start, the final stops)
  // share the set-up source.
  return setupRandom_;
}

bool ModelHost::Chance(int perMille) {
  if (perMille <= 0) return false;
  if (threadRandom != nullptr) return static_cast<int>((*threadRandom)() % 1000) < perMille;
  std::lock_guard lock(mutex_);
  return static_cast<int>(setupRandom_() % 1000) < perMille;
}

ModelHost::Module* ModelHost::Current(int slot) {
  std::lock_guard lock(mutex_);
  return slot >= 0 && slot < 2 ? slots_[slot] : nullptr;
}

bool ModelHost::IsRunning(int slot) {
  std::lock_guard lock(mutex_);
  return slot >= 0 && slot < 2 && slots_[slot] != nullptr && slots_[slot]->state == State::kRunning;
}

bool ModelHost::Enter(Module& module) {
  std::lock_guard lock(mutex_);
  if (module.state != State::kRunning) return false;
  ++module.inside;
  return true;
}

void ModelHost::Leave(Module& module) {
  {
    std::lock_guard lock(mutex_);
    --module.inside;
  }
  changed_.notify_all();
}

bool ModelHost::Load(int slot) {
  Module* module = OpenSlot(slot);
  if (module == nullptr) return true;
  std::optional<ApiModel> model = RunExport(*module);
  if (!model) return false;
  return RunStart(*module, slot, std::move(model));
}

ModelHost::Module* ModelHost::OpenSlot(int slot) {
  std::lock_guard lock(mutex_);
  if (slots_[slot] != nullptr && slots_[slot]->state != State::kStopped) return nullptr;
  modules_.push_back(new Module());
  KeptModules().push_back(modules_.back());
  Module& module = *modules_.back();
  module.host.store(this);
  module.slot = slot;
  module.cookie = 0x48530000u + static_cast<std::uint32_t>(modules_.size());
  module.table.module = &module;
  module.table.functions =
      Abi::HostFunctions{OnCall,        OnReserved, OnPublishEvent, OnSubscribe, OnUnsubscribe,
                         OnScheduleJob, OnPump,     OnBeginWait,    OnEndWait,   OnLog};
  module.interface.functions = &module.table.functions;
  module.interface.cookie = module.cookie;
  module.record.major = 18;
  // The slot is taken at once, so a second Load of it waits for its Stop; nothing
  // reaches the module until it is started.
  module.state = State::kLoading;
  slots_[slot] = &module;
  ++counts_.loads;
  return &module;
}

std::optional<ApiModel> ModelHost::RunExport(Module& module) {
  PhaseBegins(RunPhase::kExport);
  load_(&module.record);
  const Abi::PluginHostRecord& record = module.record;
  const bool complete = record.functions != nullptr && record.functions->Start != nullptr &&
                        record.functions->Stop != nullptr &&
                        record.functions->GetMemoryStats != nullptr;
  PhaseEnds(RunPhase::kExport, complete && record.name != nullptr && record.api != nullptr);
  if (!complete) {
    LoadFailed(FindingKind::kLoad, "the export left no complete function table");
    Abandon(module);
    return std::nullopt;
  }
  if (record.name == nullptr || record.api == nullptr) {
    LoadFailed(FindingKind::kLoad, "the export left no name or no API block");
    Abandon(module);
    return std::nullopt;
  }
  if (getMemoryStats_ == nullptr) getMemoryStats_ = record.functions->GetMemoryStats;
  std::string problem;
  std::optional<ApiModel> model = ApiModel::FromBlock(record.api, problem);
  if (!model) {
    oracle_.Report(FindingKind::kApiBlock, problem);
    Abandon(module);
    return std::nullopt;
  }
  const Abi::ApiEndpointDescriptor* descriptor = record.api->descriptors;
  for (std::uint32_t index = 0; index < record.api->count && descriptor != nullptr; ++index) {
    module.endpoints[TextOrEmpty(descriptor->function.name)] =
        EndpointEntry{descriptor->requestEntry, descriptor->function.registration};
    descriptor = descriptor->next;
  }
  return model;
}

bool ModelHost::RunStart(Module& module, int slot, std::optional<ApiModel> model) {
  const Abi::PluginHostRecord& record = module.record;
  {
    std::lock_guard lock(mutex_);
    if (!model_) {
      model_ = std::move(model);
      model_->AddTexts(dictionary_);
    }
    module.state = State::kRunning;
    ++module.inside;
    if (counts_.loads == 1) module.stopAtStartCall = policy_.stopDuringStart;
  }
  const void* outerStarting = startingModule;
  startingModule = &module;
  const std::size_t mark = pendingMirrors.size();
  PhaseBegins(RunPhase::kStart);
  const bool started = record.functions->Start(record.context, &module.interface);
  PhaseEnds(RunPhase::kStart, started);
  EndMirrorScope(mark);
  startingModule = outerStarting;
  Leave(module);
  std::string stoppedInside;
  {
    std::lock_guard lock(mutex_);
    stoppedInside = module.stoppedInside;
  }
  if (!stoppedInside.empty()) {
    if (started) {
      oracle_.Report(FindingKind::kStartStopped,
                     "Start answered true although the host stopped the module from inside "
                     "its " +
                         stoppedInside + " call");
    }
    return false;
  }
  if (!started) {
    LoadFailed(FindingKind::kLoad, "Start returned false");
    Stop(slot);
    return false;
  }
  return true;
}

void ModelHost::PhaseBegins(RunPhase phase) {
  if (observer_ != nullptr) observer_->Begin(*this, oracle_, phase);
}

void ModelHost::PhaseEnds(RunPhase phase, bool succeeded) {
  if (observer_ != nullptr) observer_->End(*this, oracle_, phase, succeeded);
}

void ModelHost::LoadFailed(const char* kind, const std::string& message) {
  if (observer_ == nullptr || !observer_->Refused()) oracle_.Report(kind, message);
}

void ModelHost::Abandon(Module& module) {
  std::lock_guard lock(mutex_);
  module.state = State::kStopped;
}

void ModelHost::SampleStats() {
  std::lock_guard lock(statsMutex_);
  oracle_.Sample(Stats());
}

void ModelHost::Stop(int slot) {
  Module* module = nullptr;
  {
    std::unique_lock lock(mutex_);
    module = slots_[slot];
    if (module == nullptr || module->state != State::kRunning) return;
    module->state = State::kStopping;
    // The ABI: no Stop while another thread is inside one of the module's callbacks.
    changed_.wait(lock, [&] { return module->inside == 0; });
    // Jobs that were not held are dropped, as a host drops a stopped module's work.
    std::erase_if(jobs_, [&](const Job& job) { return job.module == module && !job.held; });
    ++counts_.stops;
  }
  FinishStop(*module);
}

void ModelHost::StopInside(Module& module, const char* function) {
  {
    std::lock_guard lock(mutex_);
    if (module.state != State::kRunning) return;
    // Start is the only call inside: nothing else runs while a module starts.
    module.state = State::kStopping;
    module.stoppedInside = function;
    std::erase_if(jobs_, [&](const Job& job) { return job.module == &module && !job.held; });
    ++counts_.stops;
    ++counts_.stoppedDuringStart;
  }
  FinishStop(module);
}

void ModelHost::FinishStop(Module& module) {
  {
    std::lock_guard lock(mutex_);
    module.stopCalled = true;
  }
  const void* outerStopping = stoppingModule;
  stoppingModule = &module;
  const std::size_t mark = pendingMirrors.size();
  PhaseBegins(RunPhase::kStop);
  module.record.functions->Stop(module.record.context);
  PhaseEnds(RunPhase::kStop, true);
  EndMirrorScope(mark);
  stoppingModule = outerStopping;
  std::vector<std::string> left;
  {
    std::lock_guard lock(mutex_);
    module.stopReturned = true;
    module.state = State::kStopped;
    for (const Subscription& subscription : module.subscriptions) {
      left.push_back(subscription.name);
    }
    module.subscriptions.clear();
  }
  if (!left.empty()) {
    std::string names;
    for (const std::string& name : left) names += (names.empty() ? "" : ", ") + name;
    oracle_.Report(FindingKind::kSubscriptions, "subscriptions left after Stop: " + names);
  }
}

void ModelHost::JoinHelpers() {
  for (;;) {
    std::vector<std::thread> helpers;
    {
      std::lock_guard lock(mutex_);
      helpers.swap(helpers_);
    }
    if (helpers.empty()) return;
    for (std::thread& helper : helpers) helper.join();
  }
}

bool ModelHost::RunOneJob(bool fromPump) {
  std::optional<Job> job;
  {
    std::lock_guard lock(mutex_);
    std::vector<std::size_t> runnable;
    for (std::size_t index = 0; index < jobs_.size(); ++index) {
      const Job& candidate = jobs_[index];
      if (!candidate.held && candidate.module->state == State::kRunning) {
        runnable.push_back(index);
      }
    }
    if (runnable.empty()) return false;
    // Jobs run in random order; Pump takes the oldest, as a host's queue would.
    Random& random = threadRandom != nullptr ? *threadRandom : setupRandom_;
    const std::size_t index = fromPump ? runnable.front() : runnable[random() % runnable.size()];
    job = jobs_[index];
    jobs_.erase(jobs_.begin() + static_cast<std::ptrdiff_t>(index));
    ++job->module->inside;
    ++counts_.jobs;
  }
  const void* outer = insideJobOf;
  insideJobOf = job->module;
  const std::size_t mark = pendingMirrors.size();
  job->callback(job->context);
  EndMirrorScope(mark);
  insideJobOf = outer;
  Leave(*job->module);
  return true;
}

void ModelHost::RunJob(const Job& job, bool afterStop) {
  Count(&RunCounts::jobs);
  const void* outer = insideJobOf;
  insideJobOf = afterStop ? nullptr : job.module;
  job.callback(job.context);
  insideJobOf = outer;
}

std::vector<std::string> ModelHost::SubscribedNames() {
  std::set<std::string> names;
  std::lock_guard lock(mutex_);
  for (Module* module : slots_) {
    if (module == nullptr || module->state != State::kRunning) continue;
    for (const Subscription& subscription : module->subscriptions) {
      names.insert(subscription.name);
    }
  }
  return {names.begin(), names.end()};
}

Abi::PluginMemoryStats ModelHost::Stats() {
  Abi::PluginMemoryStats stats{};
  if (getMemoryStats_ != nullptr) getMemoryStats_(nullptr, &stats);
  return stats;
}

void ModelHost::Quiesce() {
  for (int ran = 0; ran < kMaxQuiesceJobs; ++ran) {
    JoinHelpers();
    if (!RunOneJob(true)) break;
  }
  JoinHelpers();
}

void ModelHost::Finish() {
  JoinHelpers();
  Stop(0);
  Stop(1);
  JoinHelpers();
  // The jobs held past Stop run now, on this thread; they must not reach the host.
  std::deque<Job> remaining;
  {
    std::lock_guard lock(mutex_);
    remaining.swap(jobs_);
  }
  for (const Job& job : remaining) {
    if (job.scheduledByStop && !policy_.runJobsScheduledByStop) continue;
    RunJob(job, true);
  }
  std::size_t unreleased = 0;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [key, released] : responses_) {
      if (!released) ++unreleased;
    }
  }
  if (unreleased > 0) {
    oracle_.Report(FindingKind::kResponseRelease,
                   std::to_string(unreleased) + " response(s) the host handed out never released");
  }
  SampleStats();
}

TraceOutcome RunObservedTrace(Abi::PluginLoadFunction load, const Trace& trace,
                              const std::vector<std::string>& dictionary, RunObserver* observer) {
  Oracle oracle;
  TraceOutcome outcome;
  {
    ModelHost host(load, trace.policy, trace.seed, oracle, dictionary);
    host.SetObserver(observer);
    if (observer != nullptr) observer->Begin(host, oracle, RunPhase::kRun);
    // A module the host stopped during its Start is replaced, so that the operations run.
    const bool loaded = host.Load(0) || (trace.policy.stopDuringStart > 0 && host.Load(0));
    if (loaded) {
      std::atomic<bool> done{false};
      std::thread sampler;
      if (trace.policy.sampleMemory) {
        sampler = std::thread([&] {
          while (!done.load()) {
            host.SampleStats();
            std::this_thread::sleep_for(std::chrono::microseconds(500));
          }
        });
      }
      if (observer != nullptr) observer->Begin(host, oracle, RunPhase::kTraffic);
      std::vector<std::thread> threads;
      threads.reserve(static_cast<std::size_t>(trace.threads));
      for (int thread = 0; thread < trace.threads; ++thread) {
        threads.emplace_back([&, thread] {
          for (const TraceOp& op : trace.ops) {
            if (op.thread == thread) host.Execute(op);
          }
        });
      }
      for (std::thread& thread : threads) thread.join();
      host.Quiesce();
      if (observer != nullptr) observer->End(host, oracle, RunPhase::kTraffic, true);
      if (trace.policy.checkResources) host.CheckResources();
      done = true;
      if (sampler.joinable()) sampler.join();
      host.Finish();
    } else if (observer != nullptr) {
      host.Finish();
    }
    if (observer != nullptr) observer->End(host, oracle, RunPhase::kRun, loaded);
    outcome.counts = host.Counts();
  }
  outcome.findings = oracle.Findings();
  return outcome;
}

}  // namespace Kavren::Host
