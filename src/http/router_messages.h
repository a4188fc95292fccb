// Every fixed text of URL routing and argument binding, with its placeholders.
#pragma once

namespace Kavren::RouterMessages {

// No route fits the request's path and method (status 404).
inline constexpr const char kInvalidFunction[] = "Invalid function";
// Anything thrown while a request is handled answers HttpMessages::kInternalServerError
// (status 500), the response's constant fallback text.

// %1 the argument name (or position as decimal text), %2 the function name.
inline constexpr const char kUnknownArgument[] = "Unknown argument '%1' for '%2'.";
inline constexpr const char kInvalidLocation[] =
    "Argument '%1' for '%2' was specified in an invalid location.";
// %1 the first component of the key, %2 the function name.
inline constexpr const char kNestedTooDeep[] =
    "Argument '%1' for '%2' is nested deeper than 512 levels.";
// %1 the index component.
inline constexpr const char kIndexFormat[] = "Index %1 is in an incorrect format";
inline constexpr const char kIndexRange[] = "Index %1 is out of range";
// %1 the parameter name.
inline constexpr const char kExpectedValue[] = "Expected value for argument '%1'.";
// %1 the parameter name, %2 the function name, %3 the decoder's message.
inline constexpr const char kMessagePackArgument[] =
    "Couldn't deserialize MessagePack value for parameter '%1' of '%2': %3";
inline constexpr const char kJsonArgument[] =
    "Couldn't deserialize JSON value for parameter '%1' of '%2': %3";
inline constexpr const char kYamlArgument[] =
    "Couldn't deserialize YAML value for parameter '%1' of '%2': %3";
inline constexpr const char kUnsupportedBody[] = "Unsupported body content type";
inline constexpr const char kExtraMessagePack[] = "Extra MessgePack data found in body";
// The built-in name space has no function of that name.
inline constexpr const char kUnsupportedBuiltin[] = "Unsupported builtin function";

// Log lines of endpoint registration (printf conversions).
inline constexpr const char kLogBadMethod[] =
    "Endpoint %s not registered: method code %d is not one of 1 to 7";
inline constexpr const char kLogRefused[] = "Endpoint %s not registered: %s";

}  // namespace Kavren::RouterMessages
