// Method texts, content-type prefixes and the reason-phrase table.
#include "http/message.h"

#include <iterator>

namespace Kavren {
namespace {

struct StatusPhrase {
  std::int32_t status;
  const char* phrase;
};

// The model's table: 46 codes; every other code has the empty phrase.
constexpr StatusPhrase kReasonPhrases[] = {
    {100, "Continue"},
    {101, "Switching Protocols"},
    {102, "Processing"},
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {203, "Non-Authoritative Information"},
    {204, "No Content"},
    {205, "Reset Content"},
    {206, "Partial Content"},
    {207, "Multi-Status"},
    {300, "Multiple Choices"},
    {301, "Moved Permanently"},
    {302, "Found"},
    {303, "See Other"},
    {304, "Not Modified"},
    {305, "Use Proxy"},
    {307, "Temporary Redirect"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {402, "Payment Required"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Precondition Failed"},
    {413, "Request Entity Too Large"},
    {414, "Request-URI Too Long"},
    {415, "Unsupported Media Type"},
    {416, "Requested Range Not Satisfiable"},
    {417, "Expectation Failed"},
    {422, "Unprocessable Entity"},
    {423, "Locked"},
    {424, "Failed Dependency"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
    {505, "HTTP Version Not Supported"},
    {507, "Insufficient Storage"},
};
static_assert(std::size(kReasonPhrases) == 46);

struct ContentTypePrefix {
  const char* prefix;
  BodyFormat format;
};

// Tested in this order, so "application/x-msgpack-ext" is MessagePack.
constexpr ContentTypePrefix kContentTypePrefixes[] = {
    {"application/x-msgpack", BodyFormat::MessagePack},
    {"application/json", BodyFormat::Json},
    {"application/vnd.api+json", BodyFormat::Json},
    {"application/x-yaml", BodyFormat::Yaml},
};

// ASCII-only case folding: the result must not depend on the host's locale.
char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// True when `text` starts with the lower-case `prefix`, ignoring letter case.
bool StartsWithFolded(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (FoldCase(*text) != *prefix) return false;  // also stops at the text's end
  }
  return true;
}

}  // namespace

const char* MethodText(std::int32_t method) {
  switch (method) {
    case Abi::kHttpMethodDelete:
      return "DELETE";
    case Abi::kHttpMethodGet:
      return "GET";
    case Abi::kHttpMethodHead:
      return "HEAD";
    case Abi::kHttpMethodOptions:
      return "OPTIONS";
    case Abi::kHttpMethodPatch:
      return "PATCH";
    case Abi::kHttpMethodPost:
      return "POST";
    case Abi::kHttpMethodPut:
      return "PUT";
    default:
      return "";
  }
}

const char* MethodText(HttpMethod method) { return MethodText(static_cast<std::int32_t>(method)); }

HttpMethod MethodFromCode(std::int32_t code) {
  if (code >= Abi::kHttpMethodDelete && code <= Abi::kHttpMethodCustom) {
    return static_cast<HttpMethod>(code);
  }
  return HttpMethod::None;
}

BodyFormat BodyFormatFromContentType(const char* contentType) {
  if (contentType == nullptr) return BodyFormat::None;
  for (const ContentTypePrefix& entry : kContentTypePrefixes) {
    if (StartsWithFolded(contentType, entry.prefix)) return entry.format;
  }
  return BodyFormat::None;
}

std::int32_t BodyFormatCode(std::int32_t format) {
  return format >= Abi::kBodyFormatJson && format <= Abi::kBodyFormatMessagePack
             ? format
             : Abi::kBodyFormatNone;
}

const char* ReasonPhrase(std::int32_t status) {
  for (const StatusPhrase& entry : kReasonPhrases) {
    if (entry.status == status) return entry.phrase;
  }
  return "";
}

}  // namespace Kavren
