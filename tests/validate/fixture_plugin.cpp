// A small plugin of the host ABI, written against the boundary records alone, that the
// validator's tests load: built once sound and once per planted fault (HXA_FIXTURE_FAULT),
// each of which one check of the validator must trip.
//
// It keeps one item, served by GET /fx/v1/item, set by POST /fx/v1/item/{id} (an int32
// bound from the path, as the framework binds it) and by jobs that input events schedule,
// cleared by DELETE /fx/v1/item (which also calls the host), and announced on every change
// under its own resource event and then under OnJsonApiEvent. Its heap is counted and
// comes from malloc, so that the validator's interposer can refuse it; the sound fixture
// keeps its promises when it does.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "abi/api_block.h"
#include "abi/event.h"
#include "abi/host.h"
#include "abi/http.h"
#include "abi/plugin.h"
#include "abi/value.h"

#define FAULT_NONE 0
#define FAULT_LISTED_EARLY 1
#define FAULT_WRAPPING_PEAK 2
#define FAULT_JOB_AFTER_STOP 3
#define FAULT_RELEASE_TWICE 4
#define FAULT_CALL_AFTER_STOP 5
#define FAULT_DEADLOCK 6
#define FAULT_LEAK 7
#define FAULT_STALE_GET 8
#define FAULT_SEQUENCE 9
#define FAULT_STOP_ADMITS_CALLS 10
#define FAULT_START_IGNORES_STOP 11
#define FAULT_UNBOUND_HANDLER 12
#define FAULT_UNANNOUNCED_ACK 13
#define FAULT_LOST_CHANGE 14
#define FAULT_NO_MIRROR 15
#define FAULT_TRAFFIC_LEAK 16
#define FAULT_UNSERVED_RESOURCE 17
#define FAULT_NULL_FAILURE_TEXT 18
#define FAULT_STOP_KEEPS_SUBSCRIPTION 19
#define FAULT_START_FAILURE_LEAK 20
#define FAULT_LOST_LOG_TARGET 21
#define FAULT_EMPTY_JOB_LABEL 22
#ifndef HXA_FIXTURE_FAULT
#define HXA_FIXTURE_FAULT FAULT_NONE
#endif

namespace {

using namespace Kavren::Abi;

// ---- Counted heap ---------------------------------------------------------------------

std::atomic<std::uint64_t> allocatedBytes{0};
std::atomic<std::uint64_t> allocations{0};
std::atomic<std::uint64_t> freedBytes{0};
std::atomic<std::uint64_t> frees{0};
std::atomic<std::uint64_t> peakBytes{0};
std::atomic<std::uint64_t> peakBlocks{0};
std::atomic<std::uint64_t> bytesInUse{0};
std::atomic<std::uint64_t> blocksInUse{0};

constexpr std::size_t kHeader = 16;

void RaisePeak(std::uint64_t inUse) {
  std::uint64_t peak = peakBytes.load();
  while (inUse > peak) {
    if (peakBytes.compare_exchange_weak(peak, inUse)) {
      peakBlocks.store(blocksInUse.load());
      return;
    }
  }
}

void* Alloc(std::size_t size) {
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  // A refused block is not counted; the caller gives up what needed it.
  if (block == nullptr) return nullptr;
  std::memcpy(block, &size, sizeof size);
  allocatedBytes += size;
  ++allocations;
  ++blocksInUse;
  const std::uint64_t inUse = bytesInUse.fetch_add(size) + size;
#if HXA_FIXTURE_FAULT == FAULT_WRAPPING_PEAK
  // Planted: the bytes in use from two counters read one after the other wrap when
  // another thread allocates and frees between the reads.
  (void)inUse;
  RaisePeak(allocatedBytes.load() - freedBytes.load());
#else
  RaisePeak(inUse);
#endif
  return block + kHeader;
}

void Free(void* pointer) {
  if (pointer == nullptr) return;
  auto* block = static_cast<unsigned char*>(pointer) - kHeader;
  std::size_t size = 0;
  std::memcpy(&size, block, sizeof size);
  freedBytes += size;
  ++frees;
  --blocksInUse;
  bytesInUse -= size;
  std::free(block);
}

char* CopyText(const std::string& text) {
  auto* copy = static_cast<char*>(Alloc(text.size() + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

// ---- The module and its API block -----------------------------------------------------

enum Endpoint { kGetItem, kPostItem, kDeleteItem, kArm1, kArm2, kFire, kEndpointCount };

struct Module {
  PluginFunctionTable functions{};
  PluginApiBlock api{};
  ApiEndpointDescriptor descriptors[kEndpointCount]{};
  ApiEndpointRegistration registrations[kEndpointCount]{};
  ApiArgumentRecord idArgument{};
  ApiEnumValueRecord eventTypes[3]{};
  ApiFieldRecord eventFields[3]{};
  ApiFieldRecord itemFields[2]{};
  ApiTypeRecord types[3]{};
  ApiEventRecord events[1]{};
  // The endpoint table the request entry searches; complete before the module is listed.
  ApiEndpointRegistration* tableEntries[kEndpointCount]{};
  ApiEndpointRegistration** table = nullptr;
  std::atomic<std::uint32_t> tableCount{0};
  // Set once Start has completed: the module is listed from its load on, but serves only
  // once it has a host (a call may come in on another thread while Start runs).
  std::atomic<bool> serving{false};
  std::uint64_t generation = 0;
  HostInterface* host = nullptr;
  std::uint32_t cookie = 0;
  void* session = nullptr;
  // Made by Start: the label of its jobs, and the log target its lines go through.
  char* jobLabel = nullptr;
  HostFunctions** logTarget = nullptr;
  // Guards the item, the arming flags, the announcing state and the history.
  std::mutex mutex;
  // Announcements are made by one thread at a time; a change made meanwhile (on another
  // thread, or from inside PublishEvent) is announced by that thread before it stops.
  bool announcing = false;
  bool changedWhileAnnouncing = false;
  // Held across PublishEvent by the deadlock fault only.
  std::recursive_mutex announcingLock;
  // Set while Start runs; a Stop from inside it leaves the module to Start.
  bool starting = false;
  bool stoppedDuringStart = false;
  // Blocks remembered until Stop (the traffic-leak fault only), each linking the next.
  void* history = nullptr;
  std::int32_t itemId = 0;
  std::string itemText;
  std::int32_t servedId = 0;
  std::string servedText;
  int changes = 0;
  bool armed1 = false;
  bool armed2 = false;
};

constexpr const char* kNames[kEndpointCount] = {"GetFxV1Item",    "PostFxV1ItemById",
                                                "DeleteFxV1Item", "PostFxV1Arm1",
                                                "PostFxV1Arm2",   "PostFxV1Fire"};
constexpr const char* kTemplates[kEndpointCount] = {
    "/fx/v1/item", "/fx/v1/item/{id}", "/fx/v1/item", "/fx/v1/arm1", "/fx/v1/arm2", "/fx/v1/fire"};
constexpr std::int32_t kMethods[kEndpointCount] = {kHttpMethodGet,    kHttpMethodPost,
                                                   kHttpMethodDelete, kHttpMethodPost,
                                                   kHttpMethodPost,   kHttpMethodPost};
constexpr char kInputEvent[] = "OnJsonApiEvent_fx_v1_input";
constexpr char kItemEvent[] = "OnJsonApiEvent_fx_v1_item";
const char* const kNoTags[] = {nullptr};

// Every listed module; the request entry finds its module here by the registration.
std::mutex directoryMutex;
Module* directory[8] = {};
std::atomic<std::uint64_t> nextGeneration{1};
int starts = 0;
HostInterface* lastHost = nullptr;

void List(Module* module) {
  std::lock_guard lock(directoryMutex);
  for (Module*& slot : directory) {
    if (slot == nullptr) {
      slot = module;
      return;
    }
  }
}

void Unlist(Module* module) {
  std::lock_guard lock(directoryMutex);
  for (Module*& slot : directory) {
    if (slot == module) slot = nullptr;
  }
}

void Describe(Module& module) {
  for (int index = 0; index < kEndpointCount; ++index) {
    ApiEndpointDescriptor& descriptor = module.descriptors[index];
    descriptor.next = index + 1 < kEndpointCount ? &module.descriptors[index + 1] : nullptr;
    descriptor.function.registration = &module.registrations[index];
    descriptor.function.name = kNames[index];
    descriptor.function.nameSpace = "";
    descriptor.function.returnTypeName = "";
    descriptor.function.description = "";
    descriptor.function.help = "";
    descriptor.function.asyncResultType = "";
    descriptor.function.tags = kNoTags;
    descriptor.urlTemplate = kTemplates[index];
    descriptor.method = kMethods[index];
    descriptor.customMethod = "";
    module.registrations[index].router = &module;
  }
  module.idArgument = ApiArgumentRecord{nullptr, "id", "", 6, 0, "", 0};
  module.descriptors[kPostItem].function.arguments = &module.idArgument;
  module.descriptors[kPostItem].function.argumentCount = 1;
  module.eventTypes[0] = ApiEnumValueRecord{&module.eventTypes[1], "Create", "", 0};
  module.eventTypes[1] = ApiEnumValueRecord{&module.eventTypes[2], "Update", "", 1};
  module.eventTypes[2] = ApiEnumValueRecord{nullptr, "Delete", "", 2};
  module.eventFields[0] = ApiFieldRecord{&module.eventFields[1], "uri", "", 0, 12, 0, "", 0};
  module.eventFields[1] = ApiFieldRecord{
      &module.eventFields[2], "eventType", "", 0, 16, 0, "PluginResourceEventType", 0};
  module.eventFields[2] = ApiFieldRecord{nullptr, "data", "", 0, 13, 0, "", 0};
  module.itemFields[0] = ApiFieldRecord{&module.itemFields[1], "id", "", 0, 6, 0, "", 0};
  module.itemFields[1] = ApiFieldRecord{nullptr, "text", "", 0, 12, 0, "", 0};
  module.types[0] =
      ApiTypeRecord{&module.types[1], "PluginResourceEventType", "", 4, "", kNoTags, 0,
                    nullptr,          module.eventTypes,         3};
  module.types[1] = ApiTypeRecord{&module.types[2],
                                  "PluginResourceEvent",
                                  "",
                                  0,
                                  "",
                                  kNoTags,
                                  0,
                                  module.eventFields,
                                  nullptr,
                                  3};
  module.types[2] =
      ApiTypeRecord{nullptr, "FxItem", "", 0, "", kNoTags, 0, module.itemFields, nullptr, 2};
  module.events[0] =
      ApiEventRecord{nullptr, "OnJsonApiEvent", "zclient", "PluginResourceEvent", "", kNoTags, 0};
  module.api =
      PluginApiBlock{module.descriptors, kEndpointCount, module.types, 3, module.events, 1};
}

// Writes a line through the module's log target, when it has one.
void LogLine(Module& module, const char* line) {
  if (module.logTarget != nullptr) (*module.logTarget)->Log(*module.logTarget, 3, line);
}

// ---- Replies --------------------------------------------------------------------------

// The text of a failure whose own text could not be copied; never freed.
constexpr char kOutOfMemory[] = "Out of memory";

void HXA_CDECL ReleaseReply(HttpResponseRecord* response) {
  if (response == nullptr) return;
  if (response->value.type == kHostValueStructure) {
    auto* members = reinterpret_cast<HostStructMember*>(response->value.data);
    for (HostWord index = 0; index < response->value.extra; ++index) {
      if (members[index].value.type == kHostValueOwnedString) {
        Free(reinterpret_cast<char*>(members[index].value.data));
      }
    }
    Free(members);
  }
  if (response->errorText != kOutOfMemory) Free(const_cast<char*>(response->errorText));
  std::memset(static_cast<void*>(response), 0, sizeof *response);
}

void Succeed(HttpResponseRecord& response) {
  response.status = 200;
  response.release = ReleaseReply;
}

void Fail(HttpResponseRecord& response, std::int32_t status, const char* text) {
  response.status = status;
  response.failed = 1;
#if HXA_FIXTURE_FAULT == FAULT_NULL_FAILURE_TEXT
  // Planted: a refused copy leaves the failure without a text.
  response.errorText = CopyText(text);
#else
  char* copy = CopyText(text);
  response.errorText = copy != nullptr ? copy : kOutOfMemory;
#endif
  response.release = ReleaseReply;
}

// False, with `value` untouched, when a block is refused.
bool ItemValue(HostValue& value, std::int32_t id, const std::string& text, bool owned) {
  auto* members = static_cast<HostStructMember*>(Alloc(2 * sizeof(HostStructMember)));
  if (members == nullptr) return false;
  members[0] =
      HostStructMember{"id",
                       {kHostValueSigned, static_cast<HostWord>(static_cast<std::uint32_t>(id)),
                        id < 0 ? HostWord{0xffffffffu} : HostWord{0}},
                       0};
  if (owned) {
    char* copy = CopyText(text);
    if (copy == nullptr) {
      Free(members);
      return false;
    }
    members[1] = HostStructMember{
        "text", {kHostValueOwnedString, reinterpret_cast<HostWord>(copy), text.size()}, 0};
  } else {
    members[1] = HostStructMember{
        "text", {kHostValueBorrowedString, reinterpret_cast<HostWord>(text.c_str()), 0}, 0};
  }
  value = HostValue{kHostValueStructure, reinterpret_cast<HostWord>(members), 2};
  return true;
}

// Tells the host of the item, under its own name and then under OnJsonApiEvent.
void Publish(Module& module, std::int32_t id, const std::string& text) {
  HostValue data{};
  // A refused block drops the announcement.
  if (!ItemValue(data, id, text, false)) return;
#if HXA_FIXTURE_FAULT == FAULT_UNSERVED_RESOURCE
  // Planted: announced as a resource that no GET endpoint serves.
  const char* uri = "/fx/v1/items";
#else
  const char* uri = "/fx/v1/item";
#endif
  HostStructMember members[3] = {
      {"uri", {kHostValueBorrowedString, reinterpret_cast<HostWord>(uri), 0}, 0},
      {"eventType", {kHostValueBorrowedString, reinterpret_cast<HostWord>("Update"), 0}, 0},
      {"data", data, 0}};
  HostEventRecord event{
      kItemEvent, {kHostValueStructure, reinterpret_cast<HostWord>(members), 3}, 0, nullptr};
  module.host->functions->PublishEvent(module.host->functions, &event);
#if HXA_FIXTURE_FAULT == FAULT_NO_MIRROR
  // Planted: the resource event has no copy under OnJsonApiEvent.
#else
  event.name = "OnJsonApiEvent";
  module.host->functions->PublishEvent(module.host->functions, &event);
#endif
  Free(reinterpret_cast<void*>(data.data));
}

// Announces the item as it is now.
void Announce(Module& module) {
#if HXA_FIXTURE_FAULT == FAULT_DEADLOCK
  // Planted: the item's lock stays held while the host is told, so a host that reads
  // the item from inside PublishEvent waits for itself.
  std::lock_guard announcing(module.announcingLock);
  std::lock_guard lock(module.mutex);
  Publish(module, module.itemId, module.itemText);
#else
  {
    std::lock_guard lock(module.mutex);
    if (module.announcing) {
      module.changedWhileAnnouncing = true;
      return;
    }
    module.announcing = true;
  }
  for (;;) {
    std::int32_t id;
    std::string text;
    {
      std::lock_guard lock(module.mutex);
      module.changedWhileAnnouncing = false;
      id = module.itemId;
      text = module.itemText;
    }
    Publish(module, id, text);
    std::lock_guard lock(module.mutex);
    // Planted (lost-change): a change made while the item was announced is forgotten.
    constexpr bool kForgetChanges = HXA_FIXTURE_FAULT == FAULT_LOST_CHANGE;
    if (!module.changedWhileAnnouncing || kForgetChanges) {
      module.announcing = false;
      return;
    }
  }
#endif
}

void SetItem(Module& module, std::int32_t id, bool announce = true) {
  {
    std::lock_guard lock(module.mutex);
    module.itemId = id;
    module.itemText = id == 0 ? "" : "item-" + std::to_string(id);
    ++module.changes;
#if HXA_FIXTURE_FAULT == FAULT_STALE_GET
    // Planted: the served copy follows only every second change.
    if (module.changes % 2 == 0) {
      module.servedId = module.itemId;
      module.servedText = module.itemText;
    }
#else
    module.servedId = module.itemId;
    module.servedText = module.itemText;
#endif
  }
  if (announce) Announce(module);
}

// ---- Jobs -----------------------------------------------------------------------------

struct JobContext {
  Module* module;
  std::uint64_t generation;
  std::int32_t id;
};

// Jobs by ticket; Stop drops its module's, so a job the host runs later finds nothing.
std::mutex jobsMutex;
std::map<std::uintptr_t, JobContext*> jobs;
[[maybe_unused]] std::uintptr_t nextTicket = 1;

void HXA_CDECL RunJob(void* context) {
#if HXA_FIXTURE_FAULT == FAULT_JOB_AFTER_STOP
  // Planted: the context is the job itself, and the job trusts its module to exist.
  auto* job = static_cast<JobContext*>(context);
  Module& module = *job->module;
  const std::int32_t id = job->id;
  Free(job);
  module.host->functions->Log(module.host->functions, 0, "fx: job runs");
  SetItem(module, id);
#else
  JobContext* job = nullptr;
  {
    std::lock_guard lock(jobsMutex);
    const auto found = jobs.find(reinterpret_cast<std::uintptr_t>(context));
    if (found == jobs.end()) return;
    job = found->second;
    jobs.erase(found);
  }
  SetItem(*job->module, job->id);
  Free(job);
#endif
}

void Schedule(Module& module, std::int32_t id) {
  auto* job = static_cast<JobContext*>(Alloc(sizeof(JobContext)));
  if (job == nullptr) return;
  *job = JobContext{&module, module.generation, id};
  void* context = job;
#if HXA_FIXTURE_FAULT != FAULT_JOB_AFTER_STOP
  {
    std::lock_guard lock(jobsMutex);
    const std::uintptr_t ticket = nextTicket++;
    jobs[ticket] = job;
    context = reinterpret_cast<void*>(ticket);
  }
#endif
  module.host->functions->ScheduleJob(module.host->functions,
                                      module.jobLabel != nullptr ? module.jobLabel : "", RunJob,
                                      context, 0, 0);
}

void DropJobs(Module& module) {
  std::lock_guard lock(jobsMutex);
  for (auto entry = jobs.begin(); entry != jobs.end();) {
    if (entry->second->module == &module) {
      Free(entry->second);
      entry = jobs.erase(entry);
    } else {
      ++entry;
    }
  }
}

void HXA_CDECL Farewell(void*) { lastHost->functions->Log(lastHost->functions, 0, "fx: stopped"); }

// ---- Events ---------------------------------------------------------------------------

bool MemberOf(const HostValue& value, const char* key, HostValue& out) {
  if (value.type != kHostValueStructure || value.data == 0) return false;
  const auto* members = reinterpret_cast<const HostStructMember*>(value.data);
  for (HostWord index = 0; index < value.extra; ++index) {
    if (members[index].key != nullptr && std::strcmp(members[index].key, key) == 0) {
      out = members[index].value;
      return true;
    }
  }
  return false;
}

void HXA_CDECL OnInput(const HostEventRecord* event) {
  if (event == nullptr || event->context == nullptr) return;
  Module& module = *static_cast<Module*>(event->context);
#if HXA_FIXTURE_FAULT == FAULT_TRAFFIC_LEAK
  // Planted: every input is remembered until Stop.
  {
    auto** block = static_cast<void**>(Alloc(64));
    std::lock_guard lock(module.mutex);
    *block = module.history;
    module.history = block;
  }
#endif
  // Some work on the heap, as a real handler's conversion does.
  for (int round = 0; round < 1000; ++round)
    Free(Alloc(64 + static_cast<std::size_t>(round % 300) * 97));
  HostValue data{};
  HostValue id{};
  if (!MemberOf(event->payload, "data", data) || !MemberOf(data, "id", id)) return;
  if (id.type != kHostValueSigned && id.type != kHostValueUnsigned) return;
  Schedule(module, static_cast<std::int32_t>(id.data % 1000));
}

// ---- Requests -------------------------------------------------------------------------

void CallHost(Module& module) {
  HttpRequestRecord request{};
  request.method = kHttpMethodGet;
  request.path = "/fx-host/v1/value";
  request.context = module.cookie;
  HttpResponseRecord response;
  std::memset(static_cast<void*>(&response), 0, sizeof response);
  module.host->functions->Call(module.host->functions, &response, &request);
  const bool failed = response.failed != 0;
  const HttpResponseRelease release = response.release;
  if (release != nullptr) release(&response);
#if HXA_FIXTURE_FAULT == FAULT_RELEASE_TWICE
  // Planted: a failed answer is released again, through the release the plugin kept.
  if (failed && release != nullptr) release(&response);
#endif
  (void)failed;
}

void Serve(Module& module, int endpoint, HttpResponseRecord& response,
           const HttpRequestRecord& request) {
  switch (endpoint) {
    case kGetItem: {
      std::lock_guard lock(module.mutex);
      if (!ItemValue(response.value, module.servedId, module.servedText, true)) {
        Fail(response, 500, "Out of memory");
        return;
      }
      Succeed(response);
      return;
    }
    case kPostItem: {
      const char* path = request.path != nullptr ? request.path : "";
      const char* last = std::strrchr(path, '/');
      char* end = nullptr;
      const long long id = last != nullptr ? std::strtoll(last + 1, &end, 10) : 0;
      if (last == nullptr || end == last + 1 || *end != '\0' || id < INT32_MIN || id > INT32_MAX) {
#if HXA_FIXTURE_FAULT == FAULT_UNBOUND_HANDLER
        // Planted: the handler runs with the id it could not read taken as 0.
        SetItem(module, 0);
        Fail(response, 404, "Not found");
#else
        // The binding failure, as the framework words it; nothing set a status.
        const std::string text = last != nullptr ? last + 1 : "";
        Fail(response, 0,
             ("Value " + text + " for 'id' of type int32 is in an incorrect format").c_str());
#endif
        return;
      }
      SetItem(module, static_cast<std::int32_t>(id));
      // A follow-up job confirms the item (sets it again).
      Schedule(module, static_cast<std::int32_t>(id));
      Succeed(response);
      return;
    }
    case kDeleteItem:
      CallHost(module);
      // Planted (unannounced-ack): the item is cleared, but the empty item never announced.
      SetItem(module, 0, HXA_FIXTURE_FAULT != FAULT_UNANNOUNCED_ACK);
      Succeed(response);
      return;
    case kArm1:
    case kArm2: {
      std::lock_guard lock(module.mutex);
      (endpoint == kArm1 ? module.armed1 : module.armed2) = true;
      Succeed(response);
      return;
    }
    case kFire: {
      bool armed;
      {
        std::lock_guard lock(module.mutex);
        armed = module.armed1 && module.armed2;
      }
#if HXA_FIXTURE_FAULT == FAULT_SEQUENCE
      // Planted: after both arms, a failure without a text.
      if (armed) {
        response.failed = 1;
        response.status = 500;
        response.release = ReleaseReply;
        return;
      }
#endif
      (void)armed;
      Succeed(response);
      return;
    }
    default:
      Fail(response, 404, "Not found");
  }
}

void HXA_CDECL RequestEntry(HttpResponseRecord* response, const HttpRequestRecord* request) {
  if (response == nullptr) return;
  if (request == nullptr) {
    Fail(*response, 400, "No request");
    return;
  }
  Module* module = nullptr;
  int endpoint = -1;
  {
    std::lock_guard lock(directoryMutex);
    for (Module* listed : directory) {
      if (listed == nullptr) continue;
      const std::uint32_t count = listed->tableCount.load();
      for (std::uint32_t index = 0; index < count; ++index) {
        if (listed->table[index] == request->endpoint) {
          module = listed;
          endpoint = static_cast<int>(index);
        }
      }
    }
  }
  if (module == nullptr) {
    Fail(*response, 404, "Not found");
    return;
  }
  // Arguments bind from the path only: an argument entry names an unknown argument.
  if (request->argumentCount > 0 && request->arguments != nullptr) {
    const char* name = request->arguments[0].name != nullptr ? request->arguments[0].name : "0";
    const std::string text =
        std::string("Unknown argument '") + name + "' for '" + kNames[endpoint] + "'.";
    Fail(*response, 0, text.c_str());
    return;
  }
  // A module that is not started yet answers, after the arguments, that it is not.
  if (!module->serving.load()) {
    Fail(*response, 503, "Not started");
    return;
  }
  Serve(*module, endpoint, *response, *request);
}

// ---- Function table -------------------------------------------------------------------

void Destroy(Module* module) {
  Free(module->jobLabel);
  Free(module->logTarget);
  module->~Module();
  Free(module);
}

bool HXA_CDECL Start(void* context, HostInterface* host) {
  auto& module = *static_cast<Module*>(context);
  module.host = host;
  module.cookie = host->cookie;
  lastHost = host;
  module.jobLabel = CopyText("fx: set item");
  module.logTarget = static_cast<HostFunctions**>(Alloc(sizeof(HostFunctions*)));
  module.session = Alloc(256);
  bool complete = module.session != nullptr;
  // Planted (two faults): a module that starts without its job label, or without its log
  // target.
#if HXA_FIXTURE_FAULT != FAULT_EMPTY_JOB_LABEL
  complete = complete && module.jobLabel != nullptr;
#endif
#if HXA_FIXTURE_FAULT != FAULT_LOST_LOG_TARGET
  complete = complete && module.logTarget != nullptr;
#endif
  if (!complete) {
#if HXA_FIXTURE_FAULT == FAULT_START_FAILURE_LEAK
    // Planted: the failure path forgets the label instead of freeing it.
    module.jobLabel = nullptr;
#endif
    Free(module.jobLabel);
    Free(module.logTarget);
    Free(module.session);
    module.jobLabel = nullptr;
    module.logTarget = nullptr;
    module.session = nullptr;
    return false;
  }
  if (module.logTarget != nullptr) *module.logTarget = host->functions;
  module.starting = true;
  host->functions->Subscribe(host->functions, kInputEvent, host->cookie, OnInput, &module, 0);
  module.starting = false;
  if (module.stoppedDuringStart) {
    // The host stopped the module from inside Subscribe, and Stop left it to this call.
    Destroy(&module);
    // Planted (start-ignores-stop): Start answers true all the same.
    return HXA_FIXTURE_FAULT == FAULT_START_IGNORES_STOP;
  }
  module.serving.store(true);
  return true;
}

void HXA_CDECL Stop(void* context) {
  auto* module = static_cast<Module*>(context);
  HostFunctions* functions = module->host->functions;
  // The name it unsubscribes, copied as a subscription table would keep it.
  char* name = CopyText(kInputEvent);
#if HXA_FIXTURE_FAULT == FAULT_STOP_KEEPS_SUBSCRIPTION
  // Planted: a refused copy skips the unsubscription.
  const bool unsubscribe = name != nullptr;
#else
  const bool unsubscribe = true;
#endif
  const char* subscribed = name != nullptr ? name : kInputEvent;
#if HXA_FIXTURE_FAULT == FAULT_STOP_ADMITS_CALLS
  // Planted: still listed while Stop calls the host, so a call from inside gets in.
  if (unsubscribe) functions->Unsubscribe(functions, subscribed, module->cookie);
  Unlist(module);
#else
  // Unlisted first: a call that comes in while Stop runs finds no module.
  Unlist(module);
  if (unsubscribe) functions->Unsubscribe(functions, subscribed, module->cookie);
#endif
  Free(name);
  LogLine(*module, "fx: stopping");
  DropJobs(*module);
  while (module->history != nullptr) {
    void* block = module->history;
    module->history = *static_cast<void**>(block);
    Free(block);
  }
  ++starts;
#if HXA_FIXTURE_FAULT == FAULT_LEAK
  // Planted: from the fifth cycle on, the session is not freed.
  if (starts < 5) Free(module->session);
#else
  Free(module->session);
#endif
#if HXA_FIXTURE_FAULT == FAULT_CALL_AFTER_STOP
  // Planted: a farewell left to a job, which reaches the host after Stop returned.
  functions->ScheduleJob(functions, "fx: farewell", Farewell, nullptr, 0, 0);
#else
  (void)Farewell;
#endif
  if (module->starting) {
    module->stoppedDuringStart = true;
    return;
  }
  Destroy(module);
}

void HXA_CDECL GetMemoryStats(void*, PluginMemoryStats* stats) {
  if (stats == nullptr) return;
  stats->peakBytes = peakBytes.load();
  stats->peakBlocks = peakBlocks.load();
  stats->allocatedBytes = allocatedBytes.load();
  stats->allocations = allocations.load();
  stats->freedBytes = freedBytes.load();
  stats->frees = frees.load();
  stats->reserved0 = 0;
  stats->reserved1 = 0;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) std::int32_t HXA_CDECL
load_hxa_player_messaging(PluginHostRecord* record) {
  if (record == nullptr) return 0;
  void* block = Alloc(sizeof(Module));
  // Refused: the record stays as the host gave it, which tells the host the load failed.
  if (block == nullptr) return 0;
  auto* module = new (block) Module();
  module->generation = nextGeneration++;
  module->functions = PluginFunctionTable{Start, Stop, GetMemoryStats};
  Describe(*module);
  for (int index = 0; index < kEndpointCount; ++index) {
    module->descriptors[index].requestEntry = RequestEntry;
  }
#if HXA_FIXTURE_FAULT == FAULT_LISTED_EARLY
  // Planted: listed first and counted, its table filled a moment later.
  List(module);
  module->tableCount = kEndpointCount;
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  for (int index = 0; index < kEndpointCount; ++index) {
    module->tableEntries[index] = &module->registrations[index];
  }
  module->table = module->tableEntries;
#else
  for (int index = 0; index < kEndpointCount; ++index) {
    module->tableEntries[index] = &module->registrations[index];
  }
  module->table = module->tableEntries;
  module->tableCount = kEndpointCount;
  List(module);
#endif
  record->major = 18;
  record->minor = 0;
  record->patch = 0;
  record->functions = &module->functions;
  record->context = module;
  record->name = "fx";
  record->api = &module->api;
  return 0;
}
