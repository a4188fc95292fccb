// Host value records built and read by the development host, and their JSON form.
#pragma once

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <string>

#include "abi/value.h"
#include "host/core/maybe.h"

namespace Kavren::Host {

/// Deepest nesting the host builds or reads; deeper input is refused, so no
/// recursion over a value can exhaust the stack.
inline constexpr int kMaxValueDepth = 512;

/// Builds a host value owned by the host from a JSON value: null is empty, true and
/// false are bool, integers signed (unsigned above the signed range), other numbers
/// float, texts owned strings, arrays collections and objects structures with owned
/// keys. Fails, with `value` left empty, when the JSON is nested deeper than
/// kMaxValueDepth. Free the result with FreeHostValue only.
[[nodiscard]] MaybeType<Failure> HostValueFromJson(const rapidjson::Value& json,
                                                   Abi::HostValue& value);
/// Frees what HostValueFromJson allocated and zeroes the record.
void FreeHostValue(Abi::HostValue& value);

/// Writes any host value as JSON, reading it only: blobs become base64 texts,
/// non-finite floats null, an unknown type or nesting deeper than kMaxValueDepth
/// the text "<invalid host value>".
void WriteHostValue(rapidjson::Writer<rapidjson::StringBuffer>& writer,
                    const Abi::HostValue& value);
/// Compact JSON text of a host value, as WriteHostValue writes it.
[[nodiscard]] std::string HostValueToJson(const Abi::HostValue& value);

/// Duplicates a text with malloc; FreeHostValue and the host's response release free it.
[[nodiscard]] char* DuplicateHostText(const std::string& text);

}  // namespace Kavren::Host
