// The host REST resources the plugin calls: the login data packet and the session
// invoke, and the server pushes the host sends.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "abi/http.h"
#include "host/core/event_bus.h"
#include "host/core/maybe.h"
#include "host/core/recorder.h"

namespace Kavren::Host {

/// Serves GET /hxa-login/v1/login-data-packet and POST /hxa-login/v1/session/invoke
/// to the plugin's Call, and sends the events a re-login, a logout or a server
/// push cause. Thread-safe.
class HostResources {
 public:
  /// Told of each session invoke, on the plugin's thread.
  using InvokeListener = std::function<void(const Invocation&)>;

  HostResources(EventBus& bus, Recorder& recorder) : bus_(bus), recorder_(recorder) {}

  void SetInvokeListener(InvokeListener listener);

  /// Sets the packet and, when one was set before, sends its resource event
  /// (Update, or Create for the first one). Fails when the packet is nested too
  /// deeply to serve.
  [[nodiscard]] MaybeType<Failure> SetLoginDataPacket(const rapidjson::Value& packet);
  /// Forgets the packet (GET answers 404 again) and sends a Delete resource event.
  void ClearLoginDataPacket();
  /// The packet as compact JSON, when one is set.
  [[nodiscard]] std::optional<std::string> LoginDataPacketJson();
  /// The next session invoke answers `status` with `errorText` instead of success.
  void FailNextInvoke(std::int32_t status, std::string errorText);
  /// Sends a server message event; see DevelopmentHost::PushServerMessage.
  [[nodiscard]] MaybeType<Failure, std::size_t> PushServerMessage(const rapidjson::Value& body,
                                                                  const std::string& typeName,
                                                                  const std::string& clientId,
                                                                  const std::string& subtopic);

  /// Answers one Call of the plugin; fills `response` with the host's release.
  void Serve(Abi::HttpResponseRecord& response, const Abi::HttpRequestRecord& request);

 private:
  void ServeInvoke(Abi::HttpResponseRecord& response, const Abi::HttpRequestRecord& request);
  void SendPacketEvent(std::int32_t eventType, const std::string* packetJson);

  EventBus& bus_;
  Recorder& recorder_;
  // Guards the packet, the armed failure and the listener.
  std::mutex mutex_;
  std::optional<std::string> packetJson_;
  std::optional<std::pair<std::int32_t, std::string>> nextInvokeFailure_;
  InvokeListener invokeListener_;
};

/// Fills a response the host answers with: `errorText` null for success. The
/// response's release frees what this allocated.
void FillHostResponse(Abi::HttpResponseRecord& response, std::int32_t status,
                      const std::string* errorText, const Abi::HostValue& value);

}  // namespace Kavren::Host
