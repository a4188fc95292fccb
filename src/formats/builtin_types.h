// The built-in vocabulary of asynchronous operations and generic binding events.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "binding/type_identity.h"
#include "binding/value.h"

namespace Kavren {

class BindingRegistry;

/// The states of an asynchronous operation, registered as "BindingAsyncState".
struct BindingAsyncState {
  enum class Type : std::int32_t {
    kNone = 0,
    kRunning = 1,
    kCancelling = 2,
    kCancelled = 3,
    kSucceeded = 4,
    kFailed = 5,
  };
};

/// An event carrying arbitrary data, registered as "BindingGenericEvent".
struct BindingGenericEvent {
  BindingProperty data;
};

/// A call of a callback handed out through the API, registered as "BindingCallbackEvent";
/// `parameters` are the callback's arguments in call order.
struct BindingCallbackEvent {
  std::uint32_t id = 0;
  std::vector<BindingProperty> parameters;
};

/// Arbitrary data about the asynchronous operation `asyncToken`, registered as
/// "BindingGenericAsyncEvent".
struct BindingGenericAsyncEvent {
  std::uint32_t asyncToken = 0;
  BindingProperty data;
};

/// The asynchronous operation `asyncToken` failed with `error`; registered as
/// "BindingAsyncFailureEvent".
struct BindingAsyncFailureEvent {
  std::uint32_t asyncToken = 0;
  std::string error;
};

/// The asynchronous operation `asyncToken` was cancelled; registered as
/// "BindingAsyncCancelEvent".
struct BindingAsyncCancelEvent {
  std::uint32_t asyncToken = 0;
};

/// The registry's built-in registration (BindingRegistry::Reinitialise takes it): the help
/// types first, then "BindingAsyncState" and the five event records above, with their
/// descriptions and tags. Names registered before are left as they are. The registry
/// itself adds the event "OnCallback" afterwards.
void RegisterBuiltinTypes(BindingRegistry& registry);

}  // namespace Kavren

HXA_BINDING_ENUM(Kavren::BindingAsyncState::Type);
HXA_BINDING_STRUCT(Kavren::BindingGenericEvent);
HXA_BINDING_STRUCT(Kavren::BindingCallbackEvent);
HXA_BINDING_STRUCT(Kavren::BindingGenericAsyncEvent);
HXA_BINDING_STRUCT(Kavren::BindingAsyncFailureEvent);
HXA_BINDING_STRUCT(Kavren::BindingAsyncCancelEvent);
