// The validator's host model: one host application that loads up to two modules of a
// plugin library, offers them the ten host functions, and runs a trace's operations on
// several threads at once, watching everything the oracle needs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "abi/api_block.h"
#include "abi/event.h"
#include "abi/host.h"
#include "abi/http.h"
#include "abi/plugin.h"
#include "host/validate/oracle.h"
#include "host/validate/trace.h"
#include "host/validate/types.h"

namespace Kavren::Host {

/// What one run did, besides its findings.
struct RunCounts {
  std::uint64_t ops = 0;
  std::uint64_t calls = 0;
  std::uint64_t events = 0;
  std::uint64_t jobs = 0;
  std::uint64_t loads = 0;
  std::uint64_t stops = 0;
  /// Host functions the plugin called during Stop.
  std::uint64_t callsDuringStop = 0;
  /// Resources compared with their GET at quiescence.
  std::uint64_t resourcesCompared = 0;
  /// Host functions the plugin called during Start, and the Starts the host stopped from
  /// inside one of them.
  std::uint64_t callsDuringStart = 0;
  std::uint64_t stoppedDuringStart = 0;
  /// Resource events published (a uri and data in the payload), and the first announced
  /// resource that no GET endpoint serves.
  std::uint64_t resourceEvents = 0;
  std::string unservedResource;
  /// Endpoint replies with the failed flag set.
  std::uint64_t failedReplies = 0;
  /// Lines the plugin wrote through the host's Log.
  std::uint64_t logLines = 0;
};

class ModelHost;

/// Watches the phases of a run (the allocation-refusal runs arm their plans here). The
/// export, Start and Stop phases are reported by the host on the thread that runs them;
/// kTraffic and kRun by the trace runner.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  virtual void Begin(ModelHost& host, Oracle& oracle, RunPhase phase) = 0;
  /// `succeeded`: the export left a complete record, Start answered true, or the run's
  /// first module loaded.
  virtual void End(ModelHost& host, Oracle& oracle, RunPhase phase, bool succeeded) = 0;
  /// Whether an allocation of the plugin was refused so far: a failed load or a Start
  /// that answers false is then no finding.
  [[nodiscard]] virtual bool Refused() const = 0;
};

/// What an endpoint call answered.
struct ModelReply {
  bool called = false;
  std::int32_t status = 0;
  bool failed = false;
  std::string valueJson = "null";
};

/// One host application. The plugin's calls come on any thread; Load and Stop of a slot
/// obey the ABI: a module is stopped only once no other thread is inside one of its
/// callbacks, and no callback of it starts once its Stop has begun (its jobs that were
/// held run after Stop returned, as a host may run them). Only the re-entrant host calls
/// into the plugin, on the thread inside it, as the policy asks: an endpoint called from
/// inside a host function (also one that Stop calls: such a call must be refused), and a
/// Stop from inside a host function that Start calls (Start must then answer false).
class ModelHost {
 public:
  ModelHost(Abi::PluginLoadFunction load, const HostPolicy& policy, std::uint64_t seed,
            Oracle& oracle, std::vector<std::string> dictionary);
  ~ModelHost();
  ModelHost(const ModelHost&) = delete;
  ModelHost& operator=(const ModelHost&) = delete;

  /// Loads and starts a module in `slot` (0 or 1); false, with a finding, when the
  /// export or Start failed. Nothing happens when the slot's module runs.
  bool Load(int slot);
  /// Stops the module of `slot`, once no other thread is inside it.
  void Stop(int slot);
  /// Runs one operation on the calling thread.
  void Execute(const TraceOp& op);
  /// Runs the jobs that are due until none is left (or a bound is reached).
  void Quiesce();
  /// GETs every resource a running module announced and compares it with the last
  /// announcement.
  void CheckResources();
  /// Stops every module, runs the jobs held until after Stop, and checks what must
  /// hold once everything has stopped.
  void Finish();
  /// Calls an endpoint of `slot`'s module on this thread (skipped when it is not running).
  ModelReply CallEndpoint(int slot, const std::string& functionName, ValueVariant variant,
                          Random& random);
  /// As above with the path `path` and no argument entries.
  ModelReply CallEndpointAt(int slot, const std::string& functionName, const std::string& path);
  /// The last announced data of each resource `slot`'s module announced, as JSON by uri.
  [[nodiscard]] std::map<std::string, std::string> Announcements(int slot);
  /// GETs, on this thread, each resource `slot`'s module announced that a GET endpoint
  /// serves: what each serves, as JSON by uri (a GET that failed is left out).
  [[nodiscard]] std::map<std::string, std::string> ServeAnnounced(int slot);
  [[nodiscard]] Abi::PluginMemoryStats Stats();
  /// Reads the statistics and hands them to the oracle, one sample at a time.
  void SampleStats();
  /// The names the running modules subscribed, sorted.
  [[nodiscard]] std::vector<std::string> SubscribedNames();
  /// The API as the first module described it; null before the first load.
  [[nodiscard]] const ApiModel* Model() const { return model_ ? &*model_ : nullptr; }
  [[nodiscard]] RunCounts Counts();
  [[nodiscard]] bool IsRunning(int slot);
  /// The plugin's GetMemoryStats, once an export gave it.
  [[nodiscard]] decltype(Abi::PluginFunctionTable::GetMemoryStats) StatsFunction() const {
    return getMemoryStats_;
  }
  /// Tells `observer` (which outlives the host) of the export, Start and Stop phases.
  void SetObserver(RunObserver* observer) { observer_ = observer; }

 private:
  enum class State { kLoading, kRunning, kStopping, kStopped };
  struct Module;
  // The table handed to one module, followed by the way back.
  struct Table {
    Abi::HostFunctions functions;
    Module* module;
  };
  struct Subscription {
    std::string name;
    Abi::HostEventCallback callback;
    void* context;
  };
  struct EndpointEntry {
    Abi::ApiRequestEntry entry;
    Abi::ApiEndpointRegistration* registration;
  };
  struct Module {
    Table table{};
    // Null once the run that loaded it is over: a plugin that calls the table later
    // is told nothing, and the run of the moment hears of it.
    std::atomic<ModelHost*> host{nullptr};
    int slot = 0;
    std::uint32_t cookie = 0;
    Abi::HostInterface interface {};
    Abi::PluginHostRecord record{};
    State state = State::kRunning;
    int inside = 0;
    // The plugin's Stop was called (the state turns to stopping earlier: when the host
    // decides to stop, before it waits for the calls inside to return).
    bool stopCalled = false;
    bool stopReturned = false;
    // Stop from inside the N-th host function Start calls (0: never); the host functions
    // Start called so far, and the one the host stopped the module from inside.
    int stopAtStartCall = 0;
    int startCalls = 0;
    std::string stoppedInside;
    std::vector<Subscription> subscriptions;
    std::map<std::string, EndpointEntry> endpoints;
    // Last announced data of each resource uri, as JSON.
    std::map<std::string, std::string> announced;
  };
  struct Job {
    Module* module;
    Abi::HostJobCallback callback;
    void* context;
    bool held;
    bool scheduledByStop;
  };

  // The host of the module whose table `self` is; null (and a finding for the current
  // run) when that run is over.
  static ModelHost* HostOf(Abi::HostFunctions* self, const char* function);
  static void HXA_CDECL OnCall(Abi::HostFunctions* self, Abi::HttpResponseRecord* response,
                               const Abi::HttpRequestRecord* request) noexcept;
  static void HXA_CDECL OnReserved(Abi::HostFunctions* self, Abi::HostWord, Abi::HostWord) noexcept;
  static void HXA_CDECL OnPublishEvent(Abi::HostFunctions* self,
                                       const Abi::HostEventRecord* event) noexcept;
  static void HXA_CDECL OnSubscribe(Abi::HostFunctions* self, const char* name,
                                    std::uint32_t cookie, Abi::HostEventCallback callback,
                                    void* context, std::int32_t flag) noexcept;
  static void HXA_CDECL OnUnsubscribe(Abi::HostFunctions* self, const char* name,
                                      std::uint32_t cookie) noexcept;
  static void HXA_CDECL OnScheduleJob(Abi::HostFunctions* self, const char* label,
                                      Abi::HostJobCallback job, void* context, double delay,
                                      std::int32_t flags) noexcept;
  static void HXA_CDECL OnPump(Abi::HostFunctions* self) noexcept;
  static void HXA_CDECL OnBeginWait(Abi::HostFunctions* self, const char* label,
                                    std::int32_t) noexcept;
  static void HXA_CDECL OnEndWait(Abi::HostFunctions* self) noexcept;
  static void HXA_CDECL OnLog(Abi::HostFunctions* self, std::int32_t level,
                              const char* message) noexcept;
  static void HXA_CDECL ReleaseResponse(Abi::HttpResponseRecord* response) noexcept;

  // Every host function starts here: checks the call is not after Stop, and re-enters
  // the module (or stops it, during Start) when the policy says so.
  void HostCalled(Module& module, const char* function);
  // Stops `module` from inside the host function `function` that its Start called.
  void StopInside(Module& module, const char* function);
  // Calls the plugin's Stop of a module marked stopping, and checks what it left.
  void FinishStop(Module& module);
  // The resources `module` announced: what their GETs serve, on this thread, and the
  // last announcements.
  struct Served {
    std::map<std::string, std::string> served;
    std::map<std::string, std::string> announced;
  };
  Served Serve(Module& module, Random& random);
  // An endpoint call with the resources compared before and after (compareAfterCalls).
  void CallAndCompare(const TraceOp& op, ValueVariant variant, Random& random);
  // Resource events published since `mark` that no copy under "OnJsonApiEvent" matched
  // are findings; called as each call into the plugin returns.
  void EndMirrorScope(std::size_t mark);
  void NoteMirror(Module& module, const std::string& name, const std::string& uri,
                  const Abi::HostValue& payload);
  void Reenter(Module& module, const char* why);
  // Calls an endpoint other than a GET of `module` on a thread of its own and waits for it
  // (a bounded time), from inside the PublishEvent that `module` called.
  void ChangeMeanwhile(Module& module);
  void JoinHelpers();
  bool Enter(Module& module);
  // A module whose load failed: its slot is free again.
  void Abandon(Module& module);
  void Leave(Module& module);
  void Answer(Module& module, Abi::HttpResponseRecord& response,
              const Abi::HttpRequestRecord& request);
  void Publish(Module& module, const Abi::HostEventRecord& event);
  void Deliver(const std::string& name, const Abi::HostValue& payload, std::int32_t flag);
  // `fixed`, when given, replaces the generated path and the argument entries.
  ModelReply CallModule(Module& module, const std::string& functionName, ValueVariant variant,
                        Random& random, const std::string* fixed = nullptr);
  // What CallModule holds a reply to, `where` naming the call in findings: a well-formed
  // record and, for a call that entered after Stop began, a refusal that called no host
  // function.
  void CheckCallReply(const Abi::HttpResponseRecord& response, const std::string& where,
                      bool stopBegan, const std::vector<std::string>& watched);
  // A call whose argument `broken` cannot bind answers its binding failure (or, once an
  // allocation was refused, any failure), and its handler calls no host function.
  void CheckUnbindableReply(const Abi::HttpResponseRecord& response, const std::string& where,
                            const ApiEndpoint& endpoint, const std::string& broken,
                            const std::vector<std::string>& watched);
  // The reply as the caller sees it; reads the stream out and releases the record, which
  // must then be all zero.
  ModelReply TakeReply(Abi::HttpResponseRecord& response, const std::string& where);
  bool RunOneJob(bool fromPump);
  void RunJob(const Job& job, bool afterStop);
  // Per mille decision from the thread's current random source.
  bool Chance(int perMille);
  Random& ThreadRandom();
  Module* Current(int slot);
  void Count(std::uint64_t RunCounts::*counter);
  void PhaseBegins(RunPhase phase);
  void PhaseEnds(RunPhase phase, bool succeeded);
  // Load's steps: takes `slot` for a new module (null when the slot's module runs); runs
  // the export and reads its API block (nullopt, with the slot free again, when either is
  // unfit); starts the module, the first module's API becoming the model's.
  Module* OpenSlot(int slot);
  std::optional<ApiModel> RunExport(Module& module);
  bool RunStart(Module& module, int slot, std::optional<ApiModel> model);
  // A failed load is a finding unless an allocation was refused.
  void LoadFailed(const char* kind, const std::string& message);

  Abi::PluginLoadFunction load_;
  HostPolicy policy_;
  Oracle& oracle_;
  std::vector<std::string> dictionary_;
  std::optional<ApiModel> model_;
  decltype(Abi::PluginFunctionTable::GetMemoryStats) getMemoryStats_ = nullptr;
  RunObserver* observer_ = nullptr;

  // Serialises sampling, so the oracle sees samples in the order they were read.
  std::mutex statsMutex_;
  // Guards everything below.
  std::mutex mutex_;
  std::condition_variable changed_;
  // Every module this run loaded. They are never freed: the plugin may keep a table
  // past its module's Stop, even past the run.
  std::vector<Module*> modules_;
  Module* slots_[2] = {nullptr, nullptr};
  std::deque<Job> jobs_;
  // Responses handed out by Call: contentType text -> released.
  std::map<const void*, bool> responses_;
  std::vector<char*> responseTexts_;
  // The threads of ChangeMeanwhile, joined once quiet.
  std::vector<std::thread> helpers_;
  Random setupRandom_;
  RunCounts counts_;
};

/// What running a trace in this process found: the oracle's findings.
struct TraceOutcome {
  std::vector<Finding> findings;
  RunCounts counts;
  /// Set when the trace ran nothing: the plugin subscribed nothing, had no endpoint...
  std::string skipped;
};
/// Runs `trace` as it is (its refusal plan aside), telling `observer` of its phases; with
/// an observer, a run whose first load fails still finishes.
[[nodiscard]] TraceOutcome RunObservedTrace(Abi::PluginLoadFunction load, const Trace& trace,
                                            const std::vector<std::string>& dictionary,
                                            RunObserver* observer);

}  // namespace Kavren::Host
