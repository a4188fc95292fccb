// A fake host function table that records the calls the plugin makes.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "abi/host.h"
#include "abi/http.h"

namespace Kavren::Testing {

class FakeHost {
 public:
  FakeHost();
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  /// The table to hand to the code under test.
  Abi::HostFunctions* Functions() { return &table_.functions; }

  /// One entry per call: "Call", "Pump", "BeginWait:<label>:<reserved>", "EndWait".
  std::vector<std::string> calls;
  /// Runs inside Call; the request's texts are valid during the call only.
  std::function<void(Abi::HttpResponseRecord*, const Abi::HttpRequestRecord*)> onCall;
  /// Runs inside each Pump.
  std::function<void()> onPump;

 private:
  // Standard-layout, so the table's address is the wrapper's.
  struct Table {
    Abi::HostFunctions functions;
    FakeHost* owner;
  };
  static FakeHost& Owner(Abi::HostFunctions* self);

  Table table_{};
};

}  // namespace Kavren::Testing
