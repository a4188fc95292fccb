// The data-format readers' failure texts, in one place, with their placeholders.
#pragma once

namespace Kavren::FormatMessages {

// JSON (printf-style: the reader's English message and the byte offset).
inline constexpr const char kJsonError[] = "Error: %s at offset %u.";
inline constexpr const char kJsonNestingTooDeep[] = "Nesting depth exceeds 512.";

// A limit of the value tree (ValueLimitMessages) met by any reader: %s / %2 names the limit.
inline constexpr const char kJsonValueLimit[] = "Value too large: %s";

// MessagePack (numbered placeholders).
inline constexpr const char kMessagePackUnsupportedType[] =
    "Invalid MessagePack data at position %1.";
inline constexpr const char kMessagePackKeyNotString[] =
    "Invalid MessagePack data at position %1. Map keys must be strings.";
inline constexpr const char kMessagePackNestingTooDeep[] =
    "Invalid MessagePack data at position %1. Nesting depth exceeds 512.";
inline constexpr const char kMessagePackTruncated8[] =
    "Invalid MessagePack data. 8-bit integer value at position %1 is truncated.";
inline constexpr const char kMessagePackTruncated16[] =
    "Invalid MessagePack data. 16-bit integer value at position %1 is truncated.";
inline constexpr const char kMessagePackTruncated32[] =
    "Invalid MessagePack data. 32-bit integer value at position %1 is truncated.";
inline constexpr const char kMessagePackTruncated64[] =
    "Invalid MessagePack data. 64-bit integer value at position %1 is truncated.";
inline constexpr const char kMessagePackStringTruncated[] =
    "Invalid MessagePack data. String of size %1 at position %2 is truncated.";
inline constexpr const char kMessagePackBytesTruncated[] =
    "Invalid MessagePack data. Raw bytes of size %1 at position %2 are truncated.";
inline constexpr const char kMessagePackValueLimit[] = "Value too large at position %1: %2.";
inline constexpr const char kMessagePackExtraData[] = "Extra MessgePack data found in body";

// YAML (numbered placeholders; reader positions count from 1, the parser's from 0).
inline constexpr const char kYamlParserError[] = "YAML parser error: %1. At line: %2 col: %3";
inline constexpr const char kYamlMultiDocument[] = "Multi-document YAML is not supported.";
inline constexpr const char kYamlInvalidKey[] =
    "Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2";
inline constexpr const char kYamlUnexpectedSequence[] =
    "Unexpected start of sequence. At line: %1 col: %2";
inline constexpr const char kYamlUnexpectedMapping[] =
    "Unexpected start of mapping. At line: %1 col: %2";
inline constexpr const char kYamlDuplicateAnchor[] =
    "Duplicate occurrence of anchor \"%1\". At line: %2 col: %3";
inline constexpr const char kYamlCyclicAlias[] =
    "Cannot deserialize cyclic aliases. Alias \"%1\". At line: %2 col: %3";
inline constexpr const char kYamlUndefinedAlias[] =
    "Undefined alias encountered: \"%1\". At line: %2 col: %3";
inline constexpr const char kYamlUnsupportedTag[] = "Unsupported YAML tag '%1'.";
inline constexpr const char kYamlNestingTooDeep[] =
    "Nesting depth exceeds 512. At line: %1 col: %2";
inline constexpr const char kYamlValueLimit[] = "Value too large: %1. At line: %2 col: %3";
inline constexpr const char kYamlAliasBudget[] =
    "Alias expansion exceeds the document size limit. At line: %1 col: %2";

}  // namespace Kavren::FormatMessages
