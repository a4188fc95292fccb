// The address a server listens on, resolved to the numeric form it is bound with.
#pragma once

#include <string>

#include "host/core/maybe.h"

namespace Kavren::Host {

/// The highest TCP port; 0 asks the system for any free one.
inline constexpr int kMaxPort = 65535;

/// A resolved address to listen on.
struct ListenAddress {
  /// Numeric form ("127.0.0.1", "::1"), as the socket is bound and as it is shown.
  std::string numeric;
  /// Whether only this machine can reach it (127.0.0.0/8, ::1 or ::ffff:127.0.0.0/104).
  bool loopback = false;
};

/// Resolves `bind` (a numeric address or a host name) as a listening socket would: its
/// first address for a passive TCP socket. Fails with "cannot resolve BIND: " and the
/// resolver's reason.
[[nodiscard]] MaybeType<Failure, ListenAddress> ResolveListenAddress(const std::string& bind);

}  // namespace Kavren::Host
