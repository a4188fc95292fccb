// What the calling thread is doing for the validator's host model, and the small rules the
// model's units share. Only the units of ModelHost include this.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "abi/http.h"
#include "host/describe/api_description.h"
#include "host/validate/types.h"

namespace Kavren::Host {
class ModelHost;
}  // namespace Kavren::Host

namespace Kavren::Host::detail {

/// The host whose responses are out: a response's release reaches it through here.
inline std::atomic<ModelHost*> currentHost{nullptr};

// What the calling thread is doing for the model. Defined here with their constant
// initializers, so that every unit reads them directly.
inline thread_local Random* threadRandom = nullptr;
inline thread_local const void* insideJobOf = nullptr;
inline thread_local const void* stoppingModule = nullptr;
inline thread_local const void* startingModule = nullptr;
inline thread_local int reentryDepth = 0;
/// The host functions (other than Log) the plugin called on this thread while a call that
/// must have no effect ran; null when no such call runs.
inline thread_local std::vector<std::string>* watchedCall = nullptr;

/// A resource event waiting for its copy under "OnJsonApiEvent" from the same call into
/// the plugin, on this thread.
struct PendingMirror {
  const void* module;
  std::string name;
  std::string uri;
  std::string payload;
};
inline thread_local std::vector<PendingMirror> pendingMirrors;

/// `text`, or "" for null.
[[nodiscard]] std::string TextOrEmpty(const char* text);
/// Whether calling `endpoint` may change what the plugin serves: any method but GET.
[[nodiscard]] bool ChangesState(const ApiEndpoint& endpoint);

}  // namespace Kavren::Host::detail
