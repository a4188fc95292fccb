// The response record of a call the plugin makes of the host, and its release.
#pragma once

#include <cstring>

#include "abi/http.h"

namespace Kavren {

/// Releases what the host put into `response`: a streamed body through its own
/// release first (the reader owns it, and the response's release leaves it alone),
/// then the response through its release. Either may be missing.
inline void ReleaseCallResponse(Abi::HttpResponseRecord& response) noexcept {
  if (response.stream != nullptr && response.streamRelease != nullptr) {
    response.streamRelease(response.stream);
  }
  response.stream = nullptr;
  response.streamRead = nullptr;
  response.streamRelease = nullptr;
  if (response.release != nullptr) response.release(&response);
}

/// A zeroed response record, released when it goes however the call ends.
class CallResponse {
 public:
  CallResponse() { std::memset(static_cast<void*>(&response_), 0, sizeof(response_)); }
  CallResponse(const CallResponse&) = delete;
  CallResponse& operator=(const CallResponse&) = delete;
  ~CallResponse() { ReleaseCallResponse(response_); }

  Abi::HttpResponseRecord& Record() { return response_; }

 private:
  Abi::HttpResponseRecord response_;
};

}  // namespace Kavren
