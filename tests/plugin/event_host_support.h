// Test helpers of the event layer: a host table that records what the plugin asks of it,
// delivers events to the plugin's callbacks and runs its jobs on demand.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/app_module.h"
#include "support/fake_event_host.h"

namespace Kavren::Testing {

/// A record of the tests, associated with the server class "com.test.Note".
struct Note {
  std::string text;
  std::int32_t count = 0;

  bool operator==(const Note&) const = default;
};

/// A record holding notes, associated with "com.test.Envelope".
struct Envelope {
  std::string label;
  Note note;
  std::vector<Note> notes;
};

/// A record that no registry knows.
struct Unregistered {
  std::int32_t value = 0;
};

/// An application module that registers Note and Envelope at load.
class EventTestModule : public AppModule {
 public:
  void RegisterEndpoints() override;
};

/// An EventTestModule loaded through the plugin entry and started with `host`; stopped
/// (shut down and destroyed) with this holder.
class StartedModule {
 public:
  explicit StartedModule(FakeEventHost& host);
  ~StartedModule();
  StartedModule(const StartedModule&) = delete;
  StartedModule& operator=(const StartedModule&) = delete;

  EventTestModule& operator*() const { return *module_; }
  EventTestModule* operator->() const { return module_; }

 private:
  Abi::PluginHostRecord record_{};
  EventTestModule* module_ = nullptr;
};

}  // namespace Kavren::Testing

HXA_BINDING_STRUCT(Kavren::Testing::Note);
HXA_BINDING_STRUCT(Kavren::Testing::Envelope);
HXA_BINDING_STRUCT(Kavren::Testing::Unregistered);
