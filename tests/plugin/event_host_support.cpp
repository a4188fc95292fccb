// The recording host of the event-layer tests.
#include "event_host_support.h"

#include "plugin/entry.h"

namespace Kavren::Testing {

void EventTestModule::RegisterEndpoints() {
  Registry()
      .RegisterStruct<Note>("Note")
      .AddField("text", &Note::text)
      .AddField("count", &Note::count);
  Registry()
      .RegisterStruct<Envelope>("Envelope")
      .AddField("label", &Envelope::label)
      .AddField("note", &Envelope::note)
      .AddField("notes", &Envelope::notes);
  ServerClasses().Associate("Note", StaticType::HashCode<Note>(), "com.test.Note");
  ServerClasses().Associate("Envelope", StaticType::HashCode<Envelope>(), "com.test.Envelope");
}

StartedModule::StartedModule(FakeEventHost& host) {
  static const PluginDefinition definition = DefinePlugin<EventTestModule>("event-test", "backend");
  record_.major = 18;
  if (LoadPlugin(&record_, definition) != kLoadSucceeded) return;
  module_ = static_cast<EventTestModule*>(record_.context);
  if (!record_.functions->Start(record_.context, host.Interface())) module_ = nullptr;
  host.ClearCalls();
}

StartedModule::~StartedModule() {
  if (record_.functions != nullptr) record_.functions->Stop(record_.context);
}

}  // namespace Kavren::Testing
