// Registration of the built-in asynchronous-operation and generic event types.
#include "formats/builtin_types.h"

#include <initializer_list>

#include "binding/registry.h"
#include "formats/help.h"

namespace Kavren {

void RegisterBuiltinTypes(BindingRegistry& registry) {
  RegisterHelpTypes(registry);

  const std::initializer_list<const char*> kBuiltin = {"$builtin"};
  const std::initializer_list<const char*> kAsync = {"$builtin", "async"};
  using State = BindingAsyncState::Type;
  const auto number = [](State state) { return static_cast<std::int32_t>(state); };

  registry.RegisterEnum<State>("BindingAsyncState")
      .AddValue("None", number(State::kNone), "Invalid state")
      .AddValue("Running", number(State::kRunning), "The operation is in flight")
      .AddValue("Cancelling", number(State::kCancelling),
                "A request to cancel the operation has been made")
      .AddValue("Cancelled", number(State::kCancelled), "The operation was cancelled")
      .AddValue("Succeeded", number(State::kSucceeded), "The operation completed successfully")
      .AddValue("Failed", number(State::kFailed), "The operation encountered an error")
      .SetDescription("Possible states of an asynchronous operation.")
      .AddTags(kAsync);

  registry.RegisterStruct<BindingGenericEvent>("BindingGenericEvent")
      .AddField("data", &BindingGenericEvent::data, "Event data")
      .SetDescription("Represents generic data for an event.")
      .AddTags(kBuiltin);

  registry.RegisterStruct<BindingCallbackEvent>("BindingCallbackEvent")
      .AddField("id", &BindingCallbackEvent::id, "ID of the callback being invoked")
      .AddField("parameters", &BindingCallbackEvent::parameters, "Callback parameters")
      .SetDescription("Represents the parameters of a call to a provided callback.")
      .AddTags(kBuiltin);

  registry.RegisterStruct<BindingGenericAsyncEvent>("BindingGenericAsyncEvent")
      .AddField("asyncToken", &BindingGenericAsyncEvent::asyncToken, "Asynchronous operation token")
      .AddField("data", &BindingGenericAsyncEvent::data, "Event data")
      .SetDescription("Represents generic data for an asynchronous event.")
      .AddTags(kAsync);

  registry.RegisterStruct<BindingAsyncFailureEvent>("BindingAsyncFailureEvent")
      .AddField("asyncToken", &BindingAsyncFailureEvent::asyncToken, "Asynchronous operation token")
      .AddField("error", &BindingAsyncFailureEvent::error, "Error message")
      .SetDescription("Represents a failed asynchronous operation.")
      .AddTags(kAsync);

  registry.RegisterStruct<BindingAsyncCancelEvent>("BindingAsyncCancelEvent")
      .AddField("asyncToken", &BindingAsyncCancelEvent::asyncToken, "Asynchronous operation token")
      .SetDescription("Represents a cancelled asynchronous operation.")
      .AddTags(kAsync);
}

}  // namespace Kavren
