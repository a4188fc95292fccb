// An in-process plugin for the development host's tests: it drives the host's real
// functions and records what the host sends it.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "abi/event.h"
#include "abi/host.h"
#include "abi/http.h"
#include "abi/plugin.h"

namespace Kavren::Host::Testing {

/// The path templates of the fake plugin's two endpoints.
inline constexpr char kItemTemplate[] = "/fake/v1/items/{id}";

/// What a host call answered, read before the response was released.
struct HostReply {
  std::int32_t status;
  bool failed;
  std::string errorText;
  std::string valueJson;
  /// All 62 bytes were zero after the response's own release.
  bool zeroedByRelease;
};

/// The fake plugin's state; one per process, reset by Reset().
struct FakePlugin {
  Abi::HostInterface* host = nullptr;
  // Guards the records below: events and jobs arrive on host threads.
  std::mutex mutex;
  /// "name|flag|payload" of each delivered event whose context was the plugin's.
  std::vector<std::string> events;
  /// "method path endpoint-ok context args contentType body" of each endpoint request.
  std::vector<std::string> requests;
  /// "name=value;..." of each endpoint request's headers, a blank and its custom method.
  std::vector<std::string> headers;
  /// Calls of the plugin's response release.
  int releases = 0;
  /// "stop" when Stop ran, in order with what jobs append.
  std::vector<std::string> order;

  void Reset();
  void Record(std::vector<std::string>& list, std::string entry);
  [[nodiscard]] std::vector<std::string> Copy(const std::vector<std::string>& list);
};

FakePlugin& Fake();

/// The fake plugin's export: 18.0.0, name "fake-plugin", two endpoints. Start
/// subscribes to the login data packet's event (flag 0) and the simple dialog
/// message's server-message event (flag 1).
std::int32_t HXA_CDECL FakeLoad(Abi::PluginHostRecord* record);

/// The plugin's side of a host REST call: positional arguments given as JSON texts.
[[nodiscard]] HostReply CallHost(std::int32_t method, const char* path,
                                 const std::vector<std::string>& positionalJson = {});
/// Publishes an event whose payload is the JSON text.
void Publish(const char* name, const std::string& payloadJson, std::int32_t flag = 0);
/// Schedules `job` with the host after `delaySeconds`.
void Schedule(const char* label, std::function<void()> job, double delaySeconds = 0);

}  // namespace Kavren::Host::Testing
