// The host REST resources and the events they send.
#include "host/core/host_resources.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "host/core/document.h"
#include "host/core/host_value.h"
#include "host/core/messages.h"
#include "host/core/method.h"

namespace Kavren::Host {
namespace {

std::string TextOrEmpty(const char* text) { return text != nullptr ? std::string(text) : ""; }

std::string PathWithoutQuery(const std::string& path) { return path.substr(0, path.find('?')); }

// Frees what the host put into a response it filled, then zeroes all of it.
void HXA_CDECL ReleaseHostResponse(Abi::HttpResponseRecord* response) {
  if (response == nullptr) return;
  Abi::HostValue value = response->value;
  FreeHostValue(value);
  std::free(const_cast<char*>(response->errorText));
  std::free(const_cast<char*>(response->contentType));
  std::memset(static_cast<void*>(response), 0, sizeof *response);
}

void FailResponse(Abi::HttpResponseRecord& response, std::int32_t status,
                  const std::string& errorText) {
  FillHostResponse(response, status, &errorText, Abi::HostValue{});
}

std::string QrmsEventName(const std::string& typeName) {
  std::string name = "OnQrmsEvent_" + typeName;
  std::replace(name.begin(), name.end(), '.', '_');
  return name;
}

// The text of a string host value, or nothing for any other type.
std::optional<std::string> StringOf(const Abi::HostValue& value) {
  if (value.type != Abi::kHostValueBorrowedString && value.type != Abi::kHostValueOwnedString) {
    return std::nullopt;
  }
  return TextOrEmpty(reinterpret_cast<const char*>(value.data));
}

}  // namespace

void FillHostResponse(Abi::HttpResponseRecord& response, std::int32_t status,
                      const std::string* errorText, const Abi::HostValue& value) {
  std::memset(static_cast<void*>(&response), 0, sizeof response);
  response.value = value;
  response.status = status;
  if (errorText != nullptr) {
    response.errorText = DuplicateHostText(*errorText);
    response.failed = 1;
  } else {
    response.format = Abi::kBodyFormatJson;
  }
  response.contentType = DuplicateHostText(errorText != nullptr ? "" : "application/json");
  response.release = ReleaseHostResponse;
}

void HostResources::SetInvokeListener(InvokeListener listener) {
  std::lock_guard lock(mutex_);
  invokeListener_ = std::move(listener);
}

void HostResources::SendPacketEvent(std::int32_t eventType, const std::string* packetJson) {
  static constexpr const char* kEventTypes[] = {"Create", "Update", "Delete"};
  rapidjson::Document event;
  event.SetObject();
  auto& allocator = event.GetAllocator();
  event.AddMember("uri", rapidjson::StringRef(HostMessages::kLoginDataPacketPath), allocator);
  // The plugin's converter takes an enumeration by its name or its number.
  event.AddMember("eventType", rapidjson::StringRef(kEventTypes[eventType]), allocator);
  rapidjson::Document data(&allocator);
  if (packetJson != nullptr && ParseJsonText(*packetJson, data).Succeeded()) {
    event.AddMember("data", static_cast<rapidjson::Value&>(data), allocator);
  } else {
    event.AddMember("data", rapidjson::Value(), allocator);
  }
  Abi::HostValue payload{};
  if (HostValueFromJson(event, payload).Failed()) return;
  bus_.Deliver("host", HostMessages::kLoginDataPacketEvent, payload, 0);
  FreeHostValue(payload);
}

MaybeType<Failure> HostResources::SetLoginDataPacket(const rapidjson::Value& packet) {
  // Served packets must convert: check once here rather than at every read.
  Abi::HostValue probe{};
  MaybeType<Failure> built = HostValueFromJson(packet, probe);
  if (built.Failed()) return built;
  FreeHostValue(probe);
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  packet.Accept(writer);
  std::string json(buffer.GetString(), buffer.GetSize());
  bool hadPacket;
  {
    std::lock_guard lock(mutex_);
    hadPacket = packetJson_.has_value();
    packetJson_ = json;
  }
  SendPacketEvent(hadPacket ? 1 : 0, &json);
  return {};
}

std::optional<std::string> HostResources::LoginDataPacketJson() {
  std::lock_guard lock(mutex_);
  return packetJson_;
}

void HostResources::ClearLoginDataPacket() {
  {
    std::lock_guard lock(mutex_);
    packetJson_.reset();
  }
  SendPacketEvent(2, nullptr);
}

void HostResources::FailNextInvoke(std::int32_t status, std::string errorText) {
  std::lock_guard lock(mutex_);
  nextInvokeFailure_.emplace(status, std::move(errorText));
}

MaybeType<Failure, std::size_t> HostResources::PushServerMessage(const rapidjson::Value& body,
                                                                 const std::string& typeName,
                                                                 const std::string& clientId,
                                                                 const std::string& subtopic) {
  rapidjson::Document event;
  event.SetObject();
  auto& allocator = event.GetAllocator();
  event.AddMember("clientId", rapidjson::Value(clientId.c_str(), allocator), allocator);
  event.AddMember("subtopic", rapidjson::Value(subtopic.c_str(), allocator), allocator);
  event.AddMember("typeName", rapidjson::Value(typeName.c_str(), allocator), allocator);
  event.AddMember("body", rapidjson::Value(body, allocator), allocator);
  Abi::HostValue payload{};
  MaybeType<Failure> built = HostValueFromJson(event, payload);
  if (built.Failed()) return built.GetFailure();
  const std::size_t delivered = bus_.Deliver("host", QrmsEventName(typeName), payload, 0);
  FreeHostValue(payload);
  return delivered;
}

void HostResources::Serve(Abi::HttpResponseRecord& response,
                          const Abi::HttpRequestRecord& request) {
  const std::int32_t method = request.method;
  const std::string path = PathWithoutQuery(TextOrEmpty(request.path));
  if (method == Abi::kHttpMethodGet && path == HostMessages::kLoginDataPacketPath) {
    std::optional<std::string> packet;
    {
      std::lock_guard lock(mutex_);
      packet = packetJson_;
    }
    if (!packet) {
      FailResponse(response, 404, HostMessages::kNoLoginDataPacket);
      return;
    }
    rapidjson::Document document;
    Abi::HostValue value{};
    MaybeType<Failure> built = ParseJsonText(*packet, document);
    if (built.Succeeded()) built = HostValueFromJson(document, value);
    if (built.Failed()) {
      FailResponse(response, 500, built.GetFailure().message);
    } else {
      FillHostResponse(response, 200, nullptr, value);
    }
    return;
  }
  if (method == Abi::kHttpMethodPost && path == HostMessages::kSessionInvokePath) {
    ServeInvoke(response, request);
    return;
  }
  FailResponse(response, 404,
               std::string(HostMessages::kNoSuchResource) + MethodText(method) + " " + path);
}

void HostResources::ServeInvoke(Abi::HttpResponseRecord& response,
                                const Abi::HttpRequestRecord& request) {
  const Abi::HttpArgumentEntry* arguments = request.arguments;
  const std::uint32_t count = request.argumentCount;
  std::optional<std::string> service;
  std::optional<std::string> method;
  std::string argumentsJson;
  if (arguments != nullptr && count == 3 && arguments[0].name == nullptr &&
      arguments[1].name == nullptr && arguments[2].name == nullptr) {
    const Abi::HostValue first = arguments[0].value;
    const Abi::HostValue second = arguments[1].value;
    const Abi::HostValue third = arguments[2].value;
    service = StringOf(first);
    method = StringOf(second);
    if (third.type == Abi::kHostValueCollection) argumentsJson = HostValueToJson(third);
  }
  if (!service || !method || argumentsJson.empty()) {
    FailResponse(response, 400, HostMessages::kInvokeArguments);
    return;
  }
  Invocation invocation{*service, *method, argumentsJson, 200, ""};
  InvokeListener listener;
  {
    std::lock_guard lock(mutex_);
    if (nextInvokeFailure_) {
      invocation.status = nextInvokeFailure_->first;
      invocation.errorText = nextInvokeFailure_->second.empty()
                                 ? HostMessages::kDefaultInvokeFailure
                                 : nextInvokeFailure_->second;
      nextInvokeFailure_.reset();
    }
    // Recorded under the lock, so the history's order is the order of the answers.
    recorder_.AddInvocation(invocation);
    listener = invokeListener_;
  }
  if (listener) listener(invocation);
  if (invocation.errorText.empty()) {
    FillHostResponse(response, 200, nullptr, Abi::HostValue{});
  } else {
    FailResponse(response, invocation.status, invocation.errorText);
  }
}

}  // namespace Kavren::Host
