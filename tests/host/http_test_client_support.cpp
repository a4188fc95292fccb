// Raw exchanges with the development server, for requests an HTTP client will not send.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "http_test_client.h"

namespace Kavren::Host::Testing {

std::string RawExchange(int port, const std::string& request) {
  const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
  if (socket < 0) return "";
  timeval timeout{5, 0};
  setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      send(socket, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    char buffer[4096];
    for (ssize_t got; (got = recv(socket, buffer, sizeof buffer, 0)) > 0;) {
      reply.append(buffer, static_cast<std::size_t>(got));
    }
  }
  close(socket);
  return reply;
}

}  // namespace Kavren::Host::Testing
