// Resolving a listening address with the system resolver, and telling loopback apart.
#include "host/server/listen_address.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <memory>

namespace Kavren::Host {
namespace {

bool IsLoopback(const sockaddr* address) {
  if (address->sa_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    return (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
  }
  if (address->sa_family == AF_INET6) {
    const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
  }
  return false;
}

}  // namespace

MaybeType<Failure, ListenAddress> ResolveListenAddress(const std::string& bind) {
  // The hints the server library binds with, so that its first address is this one.
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const int resolved = getaddrinfo(bind.c_str(), "0", &hints, &found);
  if (resolved != 0) return Failure{"cannot resolve " + bind + ": " + gai_strerror(resolved)};
  const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(found, &freeaddrinfo);
  char numeric[NI_MAXHOST] = {};
  const int named = getnameinfo(found->ai_addr, found->ai_addrlen, numeric, sizeof numeric, nullptr,
                                0, NI_NUMERICHOST);
  if (named != 0) return Failure{"cannot resolve " + bind + ": " + gai_strerror(named)};
  return ListenAddress{numeric, IsLoopback(found->ai_addr)};
}

}  // namespace Kavren::Host
