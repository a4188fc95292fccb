// The plugin loaded and started in-process with a quiet host, plus a test endpoint taking
// every argument kind, and a request sender over the request target's encoding.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Kavren {
class Router;
struct EndpointFunction;
}  // namespace Kavren

namespace Kavren::Fuzz {

/// What a caller keeps of one reply, read before the reply is released.
struct FuzzReply {
  bool failed = false;
  std::int32_t status = 0;
  std::string errorText;
};

/// [one thread] The process's plugin: loaded, its endpoints and the test endpoints
/// registered, started with a host whose functions do nothing (its calls succeed with no
/// value). Lives until the process ends.
class RequestFixture {
 public:
  static RequestFixture& Instance();

  /// Decodes `encoded` (see EncodeRequest) into a request record and sends it the way the
  /// host does: to the endpoint whose route fits it, or, when none does, to the test
  /// endpoint (which answers "Invalid function"). The reply is released before returning.
  FuzzReply Send(std::string_view encoded);

 private:
  RequestFixture();

  Router* router_ = nullptr;
  std::vector<const EndpointFunction*> routes_;
  const EndpointFunction* fallback_ = nullptr;
};

}  // namespace Kavren::Fuzz
