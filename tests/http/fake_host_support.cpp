// The fake host's table entries.
#include "http/fake_host.h"

namespace Kavren::Testing {

FakeHost::FakeHost() {
  table_.owner = this;
  Abi::HostFunctions& f = table_.functions;
  f.Call = [](Abi::HostFunctions* self, Abi::HttpResponseRecord* response,
              const Abi::HttpRequestRecord* request) {
    FakeHost& host = Owner(self);
    host.calls.push_back("Call");
    if (host.onCall) host.onCall(response, request);
  };
  f.Pump = [](Abi::HostFunctions* self) {
    FakeHost& host = Owner(self);
    host.calls.push_back("Pump");
    if (host.onPump) host.onPump();
  };
  f.BeginWait = [](Abi::HostFunctions* self, const char* label, std::int32_t reserved) {
    Owner(self).calls.push_back("BeginWait:" + std::string(label) + ":" + std::to_string(reserved));
  };
  f.EndWait = [](Abi::HostFunctions* self) { Owner(self).calls.push_back("EndWait"); };
}

FakeHost& FakeHost::Owner(Abi::HostFunctions* self) {
  return *reinterpret_cast<Table*>(self)->owner;
}

}  // namespace Kavren::Testing
