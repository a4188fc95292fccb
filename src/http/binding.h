// Argument binding: request texts, argument entries and bodies into an endpoint's arguments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "abi/http.h"
#include "binding/registry.h"
#include "binding/value.h"
#include "http/route.h"
#include "util/failure.h"

namespace Kavren {

/// Where an argument may come from (FunctionArgument::location).
inline constexpr std::int32_t kLocationAny = 0;
inline constexpr std::int32_t kLocationQuery = 1;
inline constexpr std::int32_t kLocationPath = 2;
inline constexpr std::int32_t kLocationHeader = 4;
inline constexpr std::int32_t kLocationBody = 5;

/// A key has at most this many dotted components, so bound values stay shallow enough
/// for the recursive operations on values.
inline constexpr std::size_t kMaxKeyComponents = 512;
/// The largest index a key may name: a query must not make the plugin allocate gigabytes.
inline constexpr std::uint32_t kMaxKeyIndex = 65535;
/// The cells that the index components of one request's keys may create in all, so that
/// indexes nested in one key, or spread over many, cannot multiply that cost. An element
/// that the endpoint converts into a native one also costs the cells its native bytes
/// would fill (an element of a std::vector<std::int64_t> costs two, of a vector of texts
/// three on either ABI), and a cell below an object argument or field costs two, since
/// the conversion copies it. A collection's growth costs its whole new capacity, since
/// the new array is held beside the old one while it copies. A key that needs more fails
/// with "Index %1 is out of range".
inline constexpr std::size_t kMaxKeyCells = 65536;

/// True when `text` starts with `prefix`, ignoring ASCII letter case.
[[nodiscard]] bool StartsWithNoCase(std::string_view text, std::string_view prefix);

/// Stores the non-empty `text` in `target` by its content type: MessagePack, JSON or YAML
/// when the type names it, or when the type is empty, `structured` is set and the text
/// looks like that format; the bytes as a blob for "application/octet-stream"; otherwise
/// the text as a string. `parameter` and `function` name the failure messages.
[[nodiscard]] MaybeType<Failure, void> StoreArgumentText(
    BindingProperty& target, std::string_view text, std::string_view contentType, bool structured,
    std::string_view parameter, std::string_view function);

/// Binds one (key, text) pair that came from `location` by the path rule: the key's first
/// component names the argument, each further component an index (a leading decimal
/// digit; "0x" hexadecimal, a leading 0 octal) or a member, created as needed; the text
/// is stored at the place reached. `arguments` is indexed like `function.arguments`.
/// `cellsLeft` is what remains of the request's kMaxKeyCells; the elements the key
/// creates are taken from it.
[[nodiscard]] MaybeType<Failure, void> BindKeyText(const FunctionRecord& function,
                                                   std::vector<BindingProperty>& arguments,
                                                   std::string_view key, std::string_view text,
                                                   std::int32_t location, std::size_t& cellsLeft);
/// As above for a key bound on its own, with a whole kMaxKeyCells.
[[nodiscard]] MaybeType<Failure, void> BindKeyText(const FunctionRecord& function,
                                                   std::vector<BindingProperty>& arguments,
                                                   std::string_view key, std::string_view text,
                                                   std::int32_t location);

/// Runs the binding passes in their order, stopping at the first failure: arguments sized
/// (non-optional bools false), header candidates, then headers, captures and query pairs
/// by the path rule, then the request's argument entries, then the body. `captureCount`
/// is the number of placeholders of the matched route (positional entries start after
/// them).
[[nodiscard]] MaybeType<Failure, void> BindRequestArguments(
    const FunctionRecord& function, const Abi::HttpRequestRecord& request,
    const RouteCaptures& captures, std::size_t captureCount,
    std::vector<BindingProperty>& arguments);

}  // namespace Kavren
