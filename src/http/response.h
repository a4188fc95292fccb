// Response settings of an endpoint call and the response record's filling and release.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "abi/http.h"
#include "binding/convert.h"
#include "binding/value.h"
#include "http/message.h"
#include "http/typed_result.h"
#include "util/failure.h"

namespace Kavren {

class BindingRegistry;

/// The shared empty text a response's `contentType` points to when none was set;
/// the response's release never frees it.
extern const char kResponseEmptyText[];

/// The failure text of a failed reply whose own text could not be copied (or was
/// empty): "Internal server error", a constant that the release never frees. A failed
/// reply always carries a text, also when the heap refuses.
extern const char* const kResponseFallbackErrorText;

/// [thread of the receiver] The release of every response the plugin fills: frees
/// the failure message (unless it is the fallback text), the content type (unless it is the shared
/// empty text), each header name and value, the header array and the body value, then zeroes the
/// whole record. The stream is not touched: its reader releases it through `streamRelease`. Null is
/// ignored; never throws.
void HXA_CDECL ReleaseResponse(Abi::HttpResponseRecord* response) noexcept;

/// A streamed body: the stream object with its read and release functions and its
/// size. Owned until handed to a response; released through its release function
/// when dropped before that.
class HttpResponseStream {
 public:
  HttpResponseStream() = default;
  HttpResponseStream(void* stream, Abi::HttpStreamRead read, Abi::HttpStreamRelease release,
                     std::uint64_t size)
      : stream_(stream), read_(read), release_(release), size_(size) {}
  HttpResponseStream(const HttpResponseStream&) = delete;
  HttpResponseStream& operator=(const HttpResponseStream&) = delete;
  HttpResponseStream(HttpResponseStream&& other) noexcept { *this = std::move(other); }
  HttpResponseStream& operator=(HttpResponseStream&& other) noexcept;
  ~HttpResponseStream() { Reset(); }

  /// True when a stream is held.
  explicit operator bool() const { return stream_ != nullptr; }
  [[nodiscard]] std::uint64_t Size() const { return size_; }

  /// Releases the held stream, if any.
  void Reset() noexcept;
  /// Writes stream, read, release and size into `response`; the response's reader
  /// owns the stream from then on. Nothing is written when no stream is held.
  void HandTo(Abi::HttpResponseRecord& response) noexcept;

 private:
  void* stream_ = nullptr;
  Abi::HttpStreamRead read_ = nullptr;
  Abi::HttpStreamRelease release_ = nullptr;
  std::uint64_t size_ = 0;
};

/// What an endpoint handler asks of its response, filled during the call and copied
/// into the response record afterwards.
struct HttpResponseSettings {
  /// Success, or the failure whose message becomes the response's `errorText`.
  MaybeType<Failure, void> result;
  /// The result value on success, already in value form.
  BindingProperty value;
  std::uint8_t formatFlag = 0;
  /// Body format asked for; 1 to 3 reach the response, anything else is sent as 0.
  std::int32_t format = 0;
  std::int32_t status = 0;
  std::string contentType;
  HttpHeaderMap headers;
  HttpResponseStream stream;
};

/// Fills `response` (expected zeroed) from `settings`: on success the value as a host
/// value (enumerations by name when `registry` knows them), on failure `errorText` and
/// `failed`; then `formatFlag`, `format`, `status`, a copy of `contentType` (the shared
/// empty text when empty), copies of the headers, the stream (handed over) and
/// `release`. All texts are allocated with the accounting allocator. Throws
/// std::bad_alloc when the heap refuses (except for the failure text, which falls
/// back as SetResponseFailure says); the record can still be released.
void FillResponseRecord(HttpResponseSettings& settings, const BindingRegistry* registry,
                        Abi::HttpResponseRecord& response);

/// Moves a handler's typed result into the response settings: when it is ok, its value
/// converted with T's registration (`registry`), otherwise its failure message with its
/// status as the code; then `formatFlag`, `format`, `status`, `contentType` and the
/// headers. A value that cannot be converted leaves no value and status 400; the
/// result is then false.
template <class T>
[[nodiscard]] bool CopyResultToSettings(RemotingTypedResult<T>&& result,
                                        HttpResponseSettings& settings,
                                        const BindingRegistry& registry) {
  bool converted = true;
  settings.value.Reset();
  if (result.ok) {
    BindingResult value;
    ToValue(value, result.value, registry);
    converted = value.ok;
    if (converted) settings.value.MoveFrom(value.value);
    settings.result = MaybeType<Failure, void>::Success();
  } else {
    settings.result = Failure{result.status, FailureMessage(std::move(result.errorText))};
  }
  settings.formatFlag = result.formatFlag;
  settings.format = result.format;
  settings.status = converted ? result.status : 400;
  settings.contentType = std::move(result.contentType);
  settings.headers = std::move(result.headers);
  return converted;
}

/// Sets `errorText` to an owned copy of `message` (replacing any earlier one) and
/// `failed` to 1. When the copy is refused, or `message` is empty, the text is
/// kResponseFallbackErrorText and the status 500: nothing is allocated for it.
void SetResponseFailure(Abi::HttpResponseRecord& response, std::string_view message) noexcept;

}  // namespace Kavren
