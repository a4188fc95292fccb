// The HTTP message model: method codes, body formats and reason phrases.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "abi/http.h"

namespace Kavren {

/// Method codes as they travel in the request record.
enum class HttpMethod : std::int32_t {
  None = Abi::kHttpMethodNone,
  Delete = Abi::kHttpMethodDelete,
  Get = Abi::kHttpMethodGet,
  Head = Abi::kHttpMethodHead,
  Options = Abi::kHttpMethodOptions,
  Patch = Abi::kHttpMethodPatch,
  Post = Abi::kHttpMethodPost,
  Put = Abi::kHttpMethodPut,
  Custom = Abi::kHttpMethodCustom,  // the text travels separately
};

/// Body formats as they travel in the response record.
enum class BodyFormat : std::int32_t {
  None = Abi::kBodyFormatNone,
  Json = Abi::kBodyFormatJson,
  Yaml = Abi::kBodyFormatYaml,
  MessagePack = Abi::kBodyFormatMessagePack,
};

/// Header names to values, in name order.
using HttpHeaderMap = std::map<std::string, std::string>;

/// "DELETE" .. "PUT" for codes 1 to 7; "" for 0, 8 (custom) and unknown codes.
[[nodiscard]] const char* MethodText(std::int32_t method);
[[nodiscard]] const char* MethodText(HttpMethod method);

/// The method code as the framework keeps it: 1 to 8 unchanged, anything else None.
[[nodiscard]] HttpMethod MethodFromCode(std::int32_t code);

/// The body format a content type selects: a case-insensitive prefix test over
/// each listed text's length, MessagePack first, then JSON, then YAML. Null or
/// anything else is None.
[[nodiscard]] BodyFormat BodyFormatFromContentType(const char* contentType);

/// The format as the response record sends it: 1 to 3 kept, anything else 0.
[[nodiscard]] std::int32_t BodyFormatCode(std::int32_t format);

/// The reason phrase of a status code; "" for a code the table does not list.
[[nodiscard]] const char* ReasonPhrase(std::int32_t status);

}  // namespace Kavren
