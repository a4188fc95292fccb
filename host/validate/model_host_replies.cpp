// The validator's host model: the replies of the endpoint calls it makes, checked (a
// well-formed record; a refusal after Stop began; the binding failure of an argument that
// cannot bind) and read (value, stream, release).
#include <algorithm>

#include "host/core/host_value.h"
#include "host/validate/model_host.h"

namespace Kavren::Host {
namespace {

constexpr std::size_t kMaxStreamBytes = 1u << 20;

bool AllZero(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  return std::all_of(bytes, bytes + size, [](unsigned char byte) { return byte == 0; });
}

}  // namespace

void ModelHost::CheckCallReply(const Abi::HttpResponseRecord& response, const std::string& where,
                               bool stopBegan, const std::vector<std::string>& watched) {
  const std::string problem = CheckReply(response);
  if (!problem.empty()) oracle_.Report(FindingKind::kMalformedReply, where + ": " + problem);
  if (stopBegan && response.failed == 0) {
    oracle_.Report(FindingKind::kStoppingCall,
                   where + " entered after Stop began and answered a success (status " +
                       std::to_string(response.status) + ") instead of a refusal");
  } else if (stopBegan && !watched.empty()) {
    oracle_.Report(FindingKind::kStoppingCall, where +
                                                   " entered after Stop began and called the "
                                                   "host's " +
                                                   watched.front() + " while it ran");
  }
}

void ModelHost::CheckUnbindableReply(const Abi::HttpResponseRecord& response,
                                     const std::string& where, const ApiEndpoint& endpoint,
                                     const std::string& broken,
                                     const std::vector<std::string>& watched) {
  std::vector<std::string> arguments{kUnknownArgumentName};
  for (const ApiArgument& argument : endpoint.arguments) arguments.push_back(argument.name);
  const std::string answered = CheckBindingFailure(response, arguments);
  // Once the allocator has refused the plugin, the binding failure's own text may not
  // be made: any failed reply (whose text the reply check holds to the ABI) may stand
  // in for it; the handler must still not run.
  const bool refusedInstead = response.failed != 0 && observer_ != nullptr && observer_->Refused();
  if (!answered.empty() && !refusedInstead) {
    oracle_.Report(FindingKind::kBinding, where + ": argument '" + broken +
                                              "' cannot bind, yet the call " + answered +
                                              " instead of its binding failure");
  } else if (!watched.empty()) {
    oracle_.Report(FindingKind::kBinding, where + ": argument '" + broken +
                                              "' cannot bind, yet the handler ran: it "
                                              "called the host's " +
                                              watched.front());
  }
}

ModelReply ModelHost::TakeReply(Abi::HttpResponseRecord& response, const std::string& where) {
  ModelReply reply;
  reply.called = true;
  reply.status = response.status;
  reply.failed = response.failed != 0;
  if (reply.failed) Count(&RunCounts::failedReplies);
  if (response.value.type <= Abi::kHostValueStructure) {
    reply.valueJson = HostValueToJson(response.value);
  }
  if (response.streamRead != nullptr) {
    char buffer[4096];
    std::size_t total = 0;
    bool more = true;
    while (more && total < kMaxStreamBytes) {
      std::uint32_t length = sizeof buffer;
      more = false;
      if (!response.streamRead(response.stream, buffer, &length, &more)) break;
      total += std::min<std::size_t>(length, sizeof buffer);
    }
    if (response.streamRelease != nullptr) response.streamRelease(response.stream);
  }
  if (response.release != nullptr) {
    response.release(&response);
    if (!AllZero(&response, sizeof response)) {
      oracle_.Report(FindingKind::kMalformedReply, where + ": the release left the record set");
    }
  }
  return reply;
}

}  // namespace Kavren::Host
