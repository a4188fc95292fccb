// The development server's routes: plugin endpoints, the event stream and the host
// controls.
#include "host/server/development_server.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>

#include "host/core/document.h"
#include "host/core/messages.h"
#include "host/core/method.h"
#include "host/server/listen_address.h"

namespace Kavren::Host {

/// The events waiting for one event-stream reader. The bus's listener pushes;
/// the connection thread pops and writes.
class EventStream {
 public:
  EventStream(std::set<std::string> names, std::size_t backlog)
      : names_(std::move(names)), backlog_(backlog) {}

  void Push(const PublishedEvent& event) {
    if (event.origin != "plugin" || (!names_.empty() && !names_.contains(event.name))) return;
    {
      std::lock_guard lock(mutex_);
      if (queue_.size() >= backlog_) {
        // A reader this far behind is closed rather than holding memory without bound.
        overflowed_ = true;
      } else {
        queue_.push_back("event: " + event.name + "\ndata: " + event.payloadJson + "\n\n");
      }
    }
    changed_.notify_one();
  }

  void Close() {
    {
      std::lock_guard lock(mutex_);
      closed_ = true;
    }
    changed_.notify_all();
  }

  /// Waits up to `wait` for events; answers them, and sets `end` when the stream
  /// should end once they are written.
  std::deque<std::string> Take(std::chrono::milliseconds wait, bool& end) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, wait, [this] { return !queue_.empty() || closed_ || overflowed_; });
    std::deque<std::string> taken;
    taken.swap(queue_);
    end = closed_ || overflowed_;
    return taken;
  }

  EventBus::ListenerId listener = 0;

 private:
  const std::set<std::string> names_;
  const std::size_t backlog_;
  // Guards the queue and the flags.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> queue_;
  bool closed_ = false;
  bool overflowed_ = false;
};

namespace {

constexpr auto kStreamPoll = std::chrono::milliseconds(200);
constexpr auto kHeartbeat = std::chrono::seconds(15);

const char* ReasonPhrase(int status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 413:
      return "Request Entity Too Large";
    case 414:
      return "Request-URI Too Long";
    case 416:
      return "Requested Range Not Satisfiable";
    case 503:
      return "Service Unavailable";
    default:
      return status >= 500 ? "Internal Server Error" : "Bad Request";
  }
}

void SendFailure(httplib::Response& response, int status, const std::string& message) {
  response.status = status;
  response.set_content(FailureJson(status, message), "application/json");
}

bool ValidStatus(std::int32_t status) { return status >= 100 && status <= 599; }

bool SameName(const std::string& a, const char* b) {
  return std::equal(a.begin(), a.end(), b, b + std::strlen(b), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// Headers the transport sets itself; a plugin's copy would break the framing.
bool TransportHeader(const std::string& name) {
  return SameName(name, "Content-Length") || SameName(name, "Transfer-Encoding") ||
         SameName(name, "Connection") || SameName(name, "Content-Type");
}

// Headers the server library adds to a request for its own use.
bool LibraryHeader(const std::string& name) {
  return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
         name == "LOCAL_PORT";
}

// A failure always answers as one, whatever status the plugin left. One that carries an
// error status keeps it; the router leaves the status of a failed argument binding at 0,
// and such a failure is about the request (400); a failure of the host's reading of the
// reply carries 500, and any other status answers 500.
int FailureStatus(const EndpointReply& reply) {
  if (ValidStatus(reply.status) && reply.status >= 400) return reply.status;
  const std::int32_t code = reply.outcome.GetFailure().code;
  if (ValidStatus(code) && code >= 400) return code;
  return reply.status == 0 ? 400 : 500;
}

void WriteReply(const MaybeType<Failure, EndpointReply>& called, httplib::Response& response) {
  if (called.Failed()) {
    SendFailure(response, called.GetFailure().code, called.GetFailure().message);
    return;
  }
  const EndpointReply& reply = called.Value();
  if (reply.outcome.Failed()) {
    SendFailure(response, FailureStatus(reply), reply.outcome.GetFailure().message);
    return;
  }
  for (const auto& [name, value] : reply.headers) {
    if (!TransportHeader(name)) response.set_header(name, value);
  }
  const bool statusSet = ValidStatus(reply.status);
  if (reply.streamBody) {
    response.status = statusSet ? reply.status : 200;
    response.set_content(*reply.streamBody, reply.contentType.empty() ? "application/octet-stream"
                                                                      : reply.contentType);
  } else if (reply.emptyValue) {
    response.status = statusSet ? reply.status : 204;
  } else {
    response.status = statusSet ? reply.status : 200;
    response.set_content(reply.valueJson, "application/json");
  }
}

}  // namespace

std::string FailureJson(int status, const std::string& message) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("httpStatus");
  writer.Int(status);
  writer.Key("message");
  writer.String(message.data(), static_cast<rapidjson::SizeType>(message.size()));
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

DevelopmentServer::DevelopmentServer(DevelopmentHost& host, ServerSettings settings)
    : host_(host), settings_(std::move(settings)) {
  const unsigned threads = settings_.threads;
  http_.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  http_.set_payload_max_length(settings_.maxBodyBytes);
  http_.set_keep_alive_max_count(100000);
  http_.set_keep_alive_timeout(settings_.keepAliveSeconds);
  // Replies go out whole at once; without this small writes wait for the peer's
  // delayed acknowledgement.
  http_.set_tcp_nodelay(true);
  http_.set_error_handler([](const httplib::Request&, httplib::Response& response) {
    // Answers the server library made itself (a refused body, a malformed request).
    if (!response.body.empty() || response.status < 400) return;
    const std::string message =
        response.status == 413 ? HostMessages::kBodyTooLarge : ReasonPhrase(response.status);
    response.set_content(FailureJson(response.status, message), "application/json");
  });
  // A client that asks before sending a body too large is refused before it sends it.
  const std::size_t maxBody = settings_.maxBodyBytes;
  http_.set_expect_100_continue_handler(
      [maxBody](const httplib::Request& request, httplib::Response& response) {
        if (request.get_header_value<std::uint64_t>("Content-Length") <= maxBody) return 100;
        response.status = 413;
        return 413;
      });
  http_.set_exception_handler(
      [](const httplib::Request&, httplib::Response& response, const std::exception_ptr&) {
        SendFailure(response, 500, HostMessages::kServerFailure);
      });
  http_.Get("/events", [this](const httplib::Request& request, httplib::Response& response) {
    HandleEvents(request, response);
  });
  RouteForEveryMethod("/_host/.*",
                      [this](const httplib::Request& request, httplib::Response& response) {
                        HandleHost(request, response);
                      });
}

DevelopmentServer::~DevelopmentServer() { Shutdown(); }

void DevelopmentServer::RouteForEveryMethod(const std::string& pattern,
                                            const httplib::Server::Handler& handler) {
  http_.Get(pattern, handler);
  http_.Post(pattern, handler);
  http_.Put(pattern, handler);
  http_.Patch(pattern, handler);
  http_.Delete(pattern, handler);
  http_.Options(pattern, handler);
}

MaybeType<Failure> DevelopmentServer::Bind() {
  // Last: every route mounted before wins over the plugin's paths.
  RouteForEveryMethod(".*", [this](const httplib::Request& request, httplib::Response& response) {
    HandleEndpoint(request, response);
  });
  // Methods the server library parses but does not route reach the plugin as
  // custom methods (they carry no body).
  http_.set_pre_routing_handler(
      [this](const httplib::Request& request, httplib::Response& response) {
        if (request.method != "CONNECT" && request.method != "TRACE") {
          return httplib::Server::HandlerResponse::Unhandled;
        }
        HandleEndpoint(request, response);
        return httplib::Server::HandlerResponse::Handled;
      });
  // The server library would take a port number modulo 65536.
  if (settings_.port < 0 || settings_.port > kMaxPort) {
    return Failure{"port " + std::to_string(settings_.port) + " is not within 0 to " +
                   std::to_string(kMaxPort)};
  }
  // Bound by its numeric form, so that Url names the address the socket has.
  const MaybeType<Failure, ListenAddress> address = ResolveListenAddress(settings_.bind);
  if (address.Failed()) return address.GetFailure();
  address_ = address.Value().numeric;
  http_.set_socket_options([this](int socket) {
    httplib::default_socket_options(socket);
    listenSocket_ = socket;
  });
  if (settings_.port == 0) {
    port_ = http_.bind_to_any_port(address_);
  } else {
    port_ = http_.bind_to_port(address_, settings_.port) ? settings_.port : -1;
  }
  if (port_ <= 0) {
    return Failure{"cannot listen on " + settings_.bind + ":" + std::to_string(settings_.port)};
  }
  // The server library listens with a backlog of 5. Clients that connect together
  // overflow it, and the kernel then answers some with SYN cookies, one of which may
  // fail and reset a connection that already sent its request. Listening again only
  // enlarges the queue.
  ::listen(listenSocket_, SOMAXCONN);
  return {};
}

std::string DevelopmentServer::Url() const {
  const bool v6 = address_.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + address_ + "]" : address_) + ":" + std::to_string(port_);
}

void DevelopmentServer::Start() {
  listener_ = std::thread([this] { http_.listen_after_bind(); });
}

void DevelopmentServer::Shutdown() {
  if (closing_.exchange(true)) return;
  {
    std::lock_guard lock(streamsMutex_);
    for (const auto& stream : streams_) stream->Close();
  }
  http_.stop();
  if (listener_.joinable()) listener_.join();
}

void DevelopmentServer::HandleEndpoint(const httplib::Request& request,
                                       httplib::Response& response) {
  EndpointCall call;
  if (const auto code = MethodCode(request.method)) {
    call.method = *code;
  } else {
    call.method = Abi::kHttpMethodCustom;
    call.customMethod = request.method;
  }
  call.path = request.target.empty() ? request.path : request.target;
  for (const auto& [name, value] : request.headers) {
    if (!LibraryHeader(name)) call.headers.emplace_back(name, value);
  }
  call.contentType.reset();
  if (request.has_header("Content-Type")) {
    call.contentType = request.get_header_value("Content-Type");
  }
  if (!request.body.empty()) call.body = request.body;
  WriteReply(host_.CallEndpoint(call), response);
  if (settings_.recording != nullptr) {
    settings_.recording->AddCall(request.method, call.path, request.body,
                                 call.contentType.value_or(""));
  }
}

void DevelopmentServer::HandleHost(const httplib::Request& request, httplib::Response& response) {
  constexpr std::string_view kPrefix = "/_host/";
  const std::string route = request.path.substr(kPrefix.size());
  const auto kind = CommandOfRoute(request.method, route);
  if (!kind) {
    bool known = false;
    for (const CommandName& name : kCommandNames) {
      if (name.route != nullptr && route == name.route) known = true;
    }
    if (known) {
      SendFailure(response, 405, ReasonPhrase(405));
    } else {
      SendFailure(
          response, 404,
          std::string(HostMessages::kNoSuchHostControl) + request.method + " " + request.path);
    }
    return;
  }
  rapidjson::Document argument;
  const std::string contentType = request.get_header_value("Content-Type");
  const bool yaml =
      contentType.starts_with("application/x-yaml") || contentType.starts_with("text/x-yaml");
  Command command;
  MaybeType<Failure> parsed;
  if (!request.body.empty()) {
    parsed = yaml ? ParseYamlText(request.body, argument) : ParseJsonText(request.body, argument);
  }
  if (parsed.Succeeded()) parsed = ParseCommand(*kind, argument, command);
  if (parsed.Failed()) {
    SendFailure(response, 400, parsed.GetFailure().message);
    return;
  }
  const MaybeType<Failure, CommandResult> result =
      ExecuteCommand(host_, command, settings_.commands);
  if (result.Failed()) {
    SendFailure(response, 400, result.GetFailure().message);
    return;
  }
  if (settings_.recording != nullptr) settings_.recording->Add(StepName(*kind), argument);
  if (result.Value().json.empty()) {
    response.status = 204;
  } else {
    response.status = 200;
    response.set_content(result.Value().json, "application/json");
  }
}

void DevelopmentServer::HandleEvents(const httplib::Request& request, httplib::Response& response) {
  std::set<std::string> names;
  const std::size_t count = request.get_param_value_count("name");
  for (std::size_t index = 0; index < count; ++index) {
    names.insert(request.get_param_value("name", index));
  }
  auto stream = std::make_shared<EventStream>(std::move(names), settings_.streamBacklog);
  {
    std::lock_guard lock(streamsMutex_);
    if (closing_ || streams_.size() >= settings_.maxStreams) {
      SendFailure(response, 503, HostMessages::kTooManyStreams);
      return;
    }
    streams_.insert(stream);
  }
  stream->listener =
      host_.Bus().AddListener([stream](const PublishedEvent& event) { stream->Push(event); });
  response.set_header("Cache-Control", "no-cache");
  auto lastWrite = std::make_shared<std::chrono::steady_clock::time_point>();
  response.set_chunked_content_provider(
      "text/event-stream",
      [stream, lastWrite](std::size_t offset, httplib::DataSink& sink) {
        const auto now = std::chrono::steady_clock::now();
        if (offset == 0 && *lastWrite == std::chrono::steady_clock::time_point()) {
          // A first line at once, so a reader knows the stream is open.
          *lastWrite = now;
          static constexpr char kOpened[] = ": stream open\n\n";
          return sink.write(kOpened, sizeof kOpened - 1);
        }
        bool end = false;
        for (const std::string& text : stream->Take(kStreamPoll, end)) {
          if (!sink.write(text.data(), text.size())) return false;
          *lastWrite = std::chrono::steady_clock::now();
        }
        if (end) {
          sink.done();
          return true;
        }
        if (std::chrono::steady_clock::now() - *lastWrite > kHeartbeat) {
          // A comment line finds readers that went away.
          static constexpr char kBeat[] = ":\n\n";
          if (!sink.write(kBeat, sizeof kBeat - 1)) return false;
          *lastWrite = std::chrono::steady_clock::now();
        }
        return true;
      },
      [this, stream](bool) {
        host_.Bus().RemoveListener(stream->listener);
        std::lock_guard lock(streamsMutex_);
        streams_.erase(stream);
      });
}

}  // namespace Kavren::Host
