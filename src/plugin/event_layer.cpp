// The event layer's host-session state.
#include "plugin/event_layer.h"

#include <utility>

namespace Kavren {

// No subscription table exists yet: nothing is subscribed, so there is
// nothing to count or to give back at Shutdown.
void EventLayer::Subscribe(const std::string&) {}

void EventLayer::Unsubscribe(const std::string&) {}

EventLayer::~EventLayer() = default;

void EventLayer::Shutdown() {}

void EventLayer::BeginHostSession(std::uint32_t cookie, std::string userAgent) {
  cookie_ = cookie;
  userAgent_ = std::move(userAgent);
}

}  // namespace Kavren
