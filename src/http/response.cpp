// Filling the response record from the response settings, and its release.
#include "http/response.h"

#include <cstring>
#include <new>

#include "binding/convert.h"
#include "binding/host_value.h"
#include "http/messages.h"
#include "util/accounting.h"

namespace Kavren {

const char kResponseEmptyText[] = "";
const char* const kResponseFallbackErrorText = HttpMessages::kInternalServerError;

namespace {

// An owned copy of `text` (which may hold no zero byte); null when the heap refuses.
char* DuplicateView(std::string_view text) {
  char* copy = static_cast<char*>(Accounting::Allocate(text.size() + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

// Owned texts are handed over as const pointers; only the release frees them.
void FreeText(const char* text) { Accounting::Free(const_cast<char*>(text)); }

// The failure text of a reply whose own text could not be copied is the constant one,
// which the release recognises and never frees.
void FreeErrorText(const char* text) {
  if (text != kResponseFallbackErrorText) FreeText(text);
}

void FillHeaders(const HttpHeaderMap& headers, Abi::HttpResponseRecord& response) {
  if (headers.empty()) return;
  auto* entries = static_cast<Abi::HttpHeaderEntry*>(
      Accounting::Allocate(headers.size() * sizeof(Abi::HttpHeaderEntry)));
  if (entries == nullptr) throw std::bad_alloc();
  std::memset(static_cast<void*>(entries), 0, headers.size() * sizeof(Abi::HttpHeaderEntry));
  // The array is in the record before it is filled, so a failure part-way leaves
  // nothing that the release cannot find.
  response.headers = entries;
  for (const auto& [name, value] : headers) {
    Abi::HttpHeaderEntry& entry = entries[response.headerCount];
    entry.name = DuplicateView(name);
    entry.value = DuplicateView(value);
    ++response.headerCount;
    if (entry.name == nullptr || entry.value == nullptr) throw std::bad_alloc();
  }
}

}  // namespace

void HXA_CDECL ReleaseResponse(Abi::HttpResponseRecord* response) noexcept {
  if (response == nullptr) return;
  FreeErrorText(response->errorText);
  if (response->contentType != kResponseEmptyText) FreeText(response->contentType);
  if (response->headers != nullptr) {
    for (std::uint32_t i = 0; i < response->headerCount; ++i) {
      FreeText(response->headers[i].name);
      FreeText(response->headers[i].value);
    }
    Accounting::Free(response->headers);
  }
  ReleaseHostValue(response->value);
  std::memset(static_cast<void*>(response), 0, sizeof(*response));
}

HttpResponseStream& HttpResponseStream::operator=(HttpResponseStream&& other) noexcept {
  if (this != &other) {
    Reset();
    stream_ = other.stream_;
    read_ = other.read_;
    release_ = other.release_;
    size_ = other.size_;
    other.stream_ = nullptr;
    other.read_ = nullptr;
    other.release_ = nullptr;
    other.size_ = 0;
  }
  return *this;
}

void HttpResponseStream::Reset() noexcept {
  if (stream_ != nullptr && release_ != nullptr) release_(stream_);
  stream_ = nullptr;
  read_ = nullptr;
  release_ = nullptr;
  size_ = 0;
}

void HttpResponseStream::HandTo(Abi::HttpResponseRecord& response) noexcept {
  if (stream_ == nullptr) return;
  response.stream = stream_;
  response.streamRead = read_;
  response.streamRelease = release_;
  response.streamSize = size_;
  stream_ = nullptr;
  Reset();
}

void SetResponseFailure(Abi::HttpResponseRecord& response, std::string_view message) noexcept {
  FreeErrorText(response.errorText);
  response.errorText = message.empty() ? nullptr : DuplicateView(message);
  if (response.errorText == nullptr) {
    response.errorText = kResponseFallbackErrorText;
    response.status = 500;
  }
  response.failed = 1;
}

void FillResponseRecord(HttpResponseSettings& settings, const BindingRegistry* registry,
                        Abi::HttpResponseRecord& response) {
  // The release goes in first: whatever is filled below can always be freed.
  response.release = &ReleaseResponse;
  response.formatFlag = settings.formatFlag;
  response.format = BodyFormatCode(settings.format);
  // Before the failure, which answers 500 when its text cannot be copied.
  response.status = settings.status;
  if (settings.result.Failed()) {
    SetResponseFailure(response, settings.result.GetFailure().message.View());
  } else {
    ValueToHost(response.value, settings.value, registry);
  }
  response.contentType = kResponseEmptyText;
  if (!settings.contentType.empty()) {
    response.contentType = DuplicateView(settings.contentType);
    if (response.contentType == nullptr) {
      response.contentType = kResponseEmptyText;
      throw std::bad_alloc();
    }
  }
  FillHeaders(settings.headers, response);
  settings.stream.HandTo(response);
}

}  // namespace Kavren
