// The texts of the native-value conversions, with their numbered placeholders.
#pragma once

namespace Kavren::ConvertMessages {

// %1 = name.
inline constexpr char kRequired[] = "A value for '%1' is required.";
// %1 = name, %2 = kind name, %3 = value kind name.
inline constexpr char kInvalidNumberType[] =
    "Couldn't assign value to '%1' of type %2 because the input is of an invalid type %3.";
// %1 = the text, %2 = name, %3 = kind name.
inline constexpr char kIncorrectFormat[] = "Value %1 for '%2' of type %3 is in an incorrect format";
// %1 = the input by its own kind, %2 = name, %3 = kind name.
inline constexpr char kOutOfRange[] = "Value %1 for '%2' of type %3 is out of range";
// %1 = the text, %2 = name.
inline constexpr char kBoolFormat[] =
    "Value %1 for '%2' of type bool is in an incorrect format. Options are \"true\", \"false\", "
    "\"1\", \"0\".";
// %1 = name, %2 = value kind name.
inline constexpr char kBoolInvalidType[] =
    "Couldn't assign value to '%1' of type bool because the input is of an invalid type %2.";
// %1 = number or text, %2 = enumeration name, %3 = name.
inline constexpr char kNotEnumValue[] = "%1 is not a valid %2 enumeration value for '%3'.";
// %1 = name, %2 = value kind name.
inline constexpr char kEnumInvalidType[] =
    "Couldn't assign value to '%1' of enum type because the input is of an invalid type %2.";
// %1 = number, %2 = name.
inline constexpr char kNoEnumName[] = "%1 is not a valid enumeration value for '%2'.";
// %1 = name.
inline constexpr char kNotString[] =
    "Couldn't assign value to '%1' because the input is not a string.";
// %1 = name.
inline constexpr char kInvalidBase64[] =
    "Couldn't assign string value to '%1' of type blob because the input has invalid base64 "
    "characters.";
// %1 = name.
inline constexpr char kNotBlob[] =
    "Couldn't assign value to '%1' of type blob because the input is not a blob.";
// %1 = name.
inline constexpr char kNotCollection[] =
    "Couldn't assign value to '%1' of type vector because the input not a collection.";
// %1 = name.
inline constexpr char kNotMapStructure[] =
    "Couldn't assign value to '%1' of type map because the input not a structure.";
// %1 = name.
inline constexpr char kUnregisteredTarget[] =
    "Couldn't assign value to '%1' because the input is an unregistered structure or not a "
    "structure at all.";
// %1 = name, %2 = type name.
inline constexpr char kNotStructure[] =
    "Couldn't assign value to '%1' of type %2 because the input not a structure.";
// %1 = name, %2 = type name, %3 = field name.
inline constexpr char kMissingRequiredField[] =
    "Couldn't assign value to '%1' of type %2 because the input structure doesn't have required "
    "field '%3'.";
inline constexpr char kUnregisteredNative[] =
    "Couldn't convert native value because it's an unregistered structure.";
// %1 = name, %2 = host value type name.
inline constexpr char kIncompatibleHostType[] =
    "Couldn't assign value to '%1' of type object because the input is of an incompatible type "
    "'%2'.";
// %1 = name.
inline constexpr char kHostValueTooDeep[] =
    "Couldn't assign value to '%1' because the input is nested deeper than 512 levels.";
// %1 = name, %2 = the limit of the value tree (ValueLimitMessages).
inline constexpr char kHostValueTooLarge[] =
    "Couldn't assign value to '%1' because the input is too large: %2.";

}  // namespace Kavren::ConvertMessages
