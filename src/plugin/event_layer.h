// The lowest layer of the application module: host-event bookkeeping and the
// nine host operations it reaches the host through.
#pragma once

#include <cstdint>
#include <string>

#include "abi/host.h"

namespace Kavren {

/// Keeps what the module knows of its host session (the host's cookie and the
/// user agent) and declares the host operations, implemented by AppModule.
/// Virtual operations in slot order: Subscribe, Unsubscribe, destructor,
/// Shutdown, then the nine host operations.
class EventLayer {
 public:
  EventLayer(const EventLayer&) = delete;
  EventLayer& operator=(const EventLayer&) = delete;

  /// [host thread] Counted subscription to the host event of a resource path.
  virtual void Subscribe(const std::string& resourcePath);
  /// [host thread] Counted unsubscription from the host event of a resource path.
  virtual void Unsubscribe(const std::string& resourcePath);
  virtual ~EventLayer();
  /// [host thread, at Stop] Unsubscribes every host event held and empties the tables.
  virtual void Shutdown();

  // The host operations: valid between Start and Stop only.
  virtual void Call(Abi::HttpResponseRecord* response, const Abi::HttpRequestRecord* request) = 0;
  virtual void Reserved(Abi::HostWord first, Abi::HostWord second) = 0;
  virtual void PublishEvent(const Abi::HostEventRecord* event) = 0;
  virtual void SubscribeWithHost(const char* eventName, std::uint32_t cookie,
                                 Abi::HostEventCallback callback, void* context,
                                 std::int32_t flag) = 0;
  virtual void UnsubscribeWithHost(const char* eventName, std::uint32_t cookie) = 0;
  virtual void ScheduleJob(const char* label, Abi::HostJobCallback job, void* context,
                           double delaySeconds, std::int32_t flags) = 0;
  virtual void Pump() = 0;
  virtual void BeginWait(const std::string& label) = 0;
  virtual void EndWait() = 0;

  /// The host's cookie, passed back to Subscribe, Unsubscribe and Call; 0 before start.
  [[nodiscard]] std::uint32_t Cookie() const { return cookie_; }
  /// "KavrenClient/<core API> (<short name>)"; empty before start.
  [[nodiscard]] const std::string& UserAgent() const { return userAgent_; }

 protected:
  EventLayer() = default;

  /// [host thread, at Start] Keeps the host's cookie and the user agent. The
  /// service-proxy subscriptions of the host session start here.
  void BeginHostSession(std::uint32_t cookie, std::string userAgent);

 private:
  std::uint32_t cookie_ = 0;
  std::string userAgent_;
};

}  // namespace Kavren
