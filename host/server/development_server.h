// The development host behind a local HTTP server: the plugin's endpoints at their
// own paths, its events as Server-Sent Events at /events, host controls under /_host/.
#pragma once

// Only builds with the server compile and link cpp-httplib; a test of the server belongs
// in tests/CMakeLists.txt's HXA_SERVER_TEST_SOURCES.
#if !HXA_HOST_SERVER
#error "the development server is not part of this build (HXA_HOST_SERVER is OFF)"
#endif

#include <httplib.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "host/core/command.h"
#include "host/core/development_host.h"
#include "host/core/maybe.h"
#include "host/server/session_recording.h"

namespace Kavren::Host {

/// How the server listens.
struct ServerSettings {
  /// The address to bind; 127.0.0.1 keeps the plugin off the network.
  std::string bind = "127.0.0.1";
  /// 0 picks a free port.
  int port = 0;
  /// Larger request bodies are refused with 413.
  std::size_t maxBodyBytes = std::size_t{64} << 20;
  /// Connection threads; each open event stream holds one.
  unsigned threads = 48;
  /// Event streams open at once; more are refused with 503.
  std::size_t maxStreams = 16;
  /// Events an event stream holds for a slow reader before it is closed.
  std::size_t streamBacklog = 10000;
  /// Seconds a kept-alive connection may wait for its next request before the server
  /// closes it. A client that sends just as the server closes gets no reply, so a client
  /// that may pause for long (a test on a loaded machine) wants more than that pause.
  int keepAliveSeconds = 5;
  CommandSettings commands;
  /// When set, each host control that ran and each endpoint call is added to it as a
  /// scenario step; it must outlive the server.
  SessionRecording* recording = nullptr;
};

class EventStream;

/// Serves one development host over HTTP. Routes are answered on the server's
/// connection threads, several at once; the host must stay loaded until
/// Shutdown has returned.
class DevelopmentServer {
 public:
  DevelopmentServer(DevelopmentHost& host, ServerSettings settings);
  /// Shuts down when still running.
  ~DevelopmentServer();
  DevelopmentServer(const DevelopmentServer&) = delete;
  DevelopmentServer& operator=(const DevelopmentServer&) = delete;

  /// The server, for routes mounted before Bind (they take precedence over the
  /// plugin's endpoints).
  [[nodiscard]] httplib::Server& Http() { return http_; }
  /// Adds the plugin's routes and binds; fails when the port is not within 0 to 65535
  /// or the address cannot be resolved or bound.
  [[nodiscard]] MaybeType<Failure> Bind();
  /// The bound port (after Bind).
  [[nodiscard]] int Port() const { return port_; }
  /// "http://ADDR:PORT" (after Bind): the numeric address and the port the socket has.
  [[nodiscard]] std::string Url() const;
  /// Serves on a thread of its own until Shutdown.
  void Start();
  /// Closes the event streams, stops accepting and waits for the requests in
  /// flight. Safe to call more than once.
  void Shutdown();

 private:
  void HandleEndpoint(const httplib::Request& request, httplib::Response& response);
  void HandleHost(const httplib::Request& request, httplib::Response& response);
  void HandleEvents(const httplib::Request& request, httplib::Response& response);
  void RouteForEveryMethod(const std::string& pattern, const httplib::Server::Handler& handler);

  DevelopmentHost& host_;
  ServerSettings settings_;
  httplib::Server http_;
  std::string address_;
  int port_ = 0;
  /// The socket the server library bound, seen as it set the socket's options.
  int listenSocket_ = -1;
  std::thread listener_;
  std::atomic<bool> closing_{false};
  // Guards the open streams.
  std::mutex streamsMutex_;
  std::set<std::shared_ptr<EventStream>> streams_;
};

/// The JSON body of a failed reply: {"httpStatus": N, "message": "..."}.
[[nodiscard]] std::string FailureJson(int status, const std::string& message);

}  // namespace Kavren::Host
