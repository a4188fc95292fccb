// Request and response records of every HTTP-style call between host and plugin.
//
// The same two records carry the host's calls of the plugin's endpoints and the
// plugin's calls of the host's REST API. On i386 (the reference ABI) pointers are
// 4 bytes and the static_asserts pin every size and offset; on x64 every pointer
// field and the host value's words are pointer-sized, in the same order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "abi/host.h"
#include "abi/value.h"

namespace Kavren::Abi {

/// Method codes of the `method` field.
inline constexpr std::int32_t kHttpMethodNone = 0;
inline constexpr std::int32_t kHttpMethodDelete = 1;
inline constexpr std::int32_t kHttpMethodGet = 2;
inline constexpr std::int32_t kHttpMethodHead = 3;
inline constexpr std::int32_t kHttpMethodOptions = 4;
inline constexpr std::int32_t kHttpMethodPatch = 5;
inline constexpr std::int32_t kHttpMethodPost = 6;
inline constexpr std::int32_t kHttpMethodPut = 7;
/// The method's text travels in `customMethod`.
inline constexpr std::int32_t kHttpMethodCustom = 8;

/// Body formats of the response's `format` field; any other number is sent as 0.
inline constexpr std::int32_t kBodyFormatNone = 0;
inline constexpr std::int32_t kBodyFormatJson = 1;
inline constexpr std::int32_t kBodyFormatYaml = 2;
inline constexpr std::int32_t kBodyFormatMessagePack = 3;

struct HttpResponseRecord;

/// [thread of the reader] Reads the next chunk of a streamed body into `buffer`.
/// `length` is the buffer size on entry and the bytes read on return; `more` is
/// set while further chunks follow. False is a read error. The stream stays the
/// owner's.
using HttpStreamRead = bool(HXA_CDECL*)(void* stream, char* buffer, std::uint32_t* length,
                                        bool* more);
/// [thread of the reader] Releases the stream once its reader is done with it.
using HttpStreamRelease = void(HXA_CDECL*)(void* stream);
/// [thread of the receiver] Frees everything the response owns and zeroes the record.
/// Only the filler's own release may free what the filler allocated.
using HttpResponseRelease = void(HXA_CDECL*)(HttpResponseRecord* response);

#pragma pack(push, 1)

// HttpArgumentEntry (16 bytes): one argument of a request.
//   0 name   const char*, null for a positional argument
//   4 value  HostValue (12 bytes)
struct HttpArgumentEntry {
  const char* name;
  HostValue value;
};

// HttpHeaderEntry (8 bytes): one header; both texts zero-terminated.
//   0 name   const char*
//   4 value  const char*
// In a response both texts are owned by the response (freed by its release).
struct HttpHeaderEntry {
  const char* name;
  const char* value;
};

// HttpRequestRecord (48 bytes), the same for calls in either direction.
//   0 method         i32, method code
//   4 path           const char*, may carry a query after "?"
//   8 arguments      HttpArgumentEntry[argumentCount]
//  12 argumentCount  u32
//  16 endpoint       from the host: the endpoint's registration; 0 towards the host
//  20 headers        HttpHeaderEntry[headerCount]
//  24 headerCount    u32
//  28 contentType    const char*, content type of the body, or null
//  32 body           body bytes, or null
//  36 bodyLength     u32
//  40 context        towards the host: the host's cookie; from the host: passed
//                    through to the endpoint's handler unchanged
//  44 customMethod   const char*, the method text when `method` is 8, else null
struct HttpRequestRecord {
  std::int32_t method;
  const char* path;
  const HttpArgumentEntry* arguments;
  std::uint32_t argumentCount;
  const void* endpoint;
  const HttpHeaderEntry* headers;
  std::uint32_t headerCount;
  const char* contentType;
  const void* body;
  std::uint32_t bodyLength;
  HostWord context;
  const char* customMethod;
};

// HttpResponseRecord (62 bytes, packed), filled by the callee, released through
// its own `release`.
//   0 value          HostValue (12 bytes), the body
//  12 errorText      owned const char*, failure message, or null on success
//  16 failed         u8, 1 when errorText is set
//  17 formatFlag     u8, copied from the handler's response settings
//  18 format         i32, body format 0..3
//  22 status         i32, status code, 0 when nothing set one
//  26 contentType    owned const char* ("" when none was set)
//  30 headers        owned HttpHeaderEntry[headerCount], owned texts
//  34 headerCount    u32
//  38 streamRead     HttpStreamRead, or null
//  42 streamRelease  HttpStreamRelease, or null
//  46 streamSize     u64, the stream's size when the response was filled
//  54 stream         void*, the stream object, or null
//  58 release        HttpResponseRelease
struct HttpResponseRecord {
  HostValue value;
  const char* errorText;
  std::uint8_t failed;
  std::uint8_t formatFlag;
  std::int32_t format;
  std::int32_t status;
  const char* contentType;
  HttpHeaderEntry* headers;
  std::uint32_t headerCount;
  HttpStreamRead streamRead;
  HttpStreamRelease streamRelease;
  std::uint64_t streamSize;
  void* stream;
  HttpResponseRelease release;
};

#pragma pack(pop)

#if defined(__i386__)
static_assert(sizeof(HttpArgumentEntry) == 16);
static_assert(offsetof(HttpArgumentEntry, value) == 4);
static_assert(sizeof(HttpHeaderEntry) == 8);

static_assert(sizeof(HttpRequestRecord) == 48);
static_assert(offsetof(HttpRequestRecord, method) == 0);
static_assert(offsetof(HttpRequestRecord, path) == 4);
static_assert(offsetof(HttpRequestRecord, arguments) == 8);
static_assert(offsetof(HttpRequestRecord, argumentCount) == 12);
static_assert(offsetof(HttpRequestRecord, endpoint) == 16);
static_assert(offsetof(HttpRequestRecord, headers) == 20);
static_assert(offsetof(HttpRequestRecord, headerCount) == 24);
static_assert(offsetof(HttpRequestRecord, contentType) == 28);
static_assert(offsetof(HttpRequestRecord, body) == 32);
static_assert(offsetof(HttpRequestRecord, bodyLength) == 36);
static_assert(offsetof(HttpRequestRecord, context) == 40);
static_assert(offsetof(HttpRequestRecord, customMethod) == 44);

static_assert(sizeof(HttpResponseRecord) == 62);
static_assert(offsetof(HttpResponseRecord, value) == 0);
static_assert(offsetof(HttpResponseRecord, errorText) == 12);
static_assert(offsetof(HttpResponseRecord, failed) == 16);
static_assert(offsetof(HttpResponseRecord, formatFlag) == 17);
static_assert(offsetof(HttpResponseRecord, format) == 18);
static_assert(offsetof(HttpResponseRecord, status) == 22);
static_assert(offsetof(HttpResponseRecord, contentType) == 26);
static_assert(offsetof(HttpResponseRecord, headers) == 30);
static_assert(offsetof(HttpResponseRecord, headerCount) == 34);
static_assert(offsetof(HttpResponseRecord, streamRead) == 38);
static_assert(offsetof(HttpResponseRecord, streamRelease) == 42);
static_assert(offsetof(HttpResponseRecord, streamSize) == 46);
static_assert(offsetof(HttpResponseRecord, stream) == 54);
static_assert(offsetof(HttpResponseRecord, release) == 58);
#endif

}  // namespace Kavren::Abi
