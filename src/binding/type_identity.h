// Type identity: a 32-bit code and a display name per native type, without run-time type info.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace Kavren {

/// The FNV-1a offset basis; every caller of HashText passes it as the seed.
inline constexpr std::uint32_t kHashSeed = 0x811C9DC5u;

/// 32-bit FNV-1a over the bytes of the zero-terminated `text`, starting from `seed`.
/// An empty text yields the seed itself.
constexpr std::uint32_t HashText(const char* text, std::uint32_t seed = kHashSeed) {
  std::uint32_t hash = seed;
  for (; *text != '\0'; ++text) {
    hash = (hash ^ static_cast<unsigned char>(*text)) * 0x01000193u;
  }
  return hash;
}

/// One record per native type, built on first use and never changed or freed afterwards.
/// Identities are equal when their `hashCode`s are equal; addresses are not compared.
struct TypeIdentity {
  /// Builds the record in place: an unnamed type (`namedText` null) is named "#%08X" of
  /// the code; a named type points `name` at `namedText` and keeps the buffer zeroed.
  TypeIdentity(std::uint32_t code, const char* namedText);
  TypeIdentity(const TypeIdentity&) = delete;
  TypeIdentity& operator=(const TypeIdentity&) = delete;

  std::uint32_t hashCode;
  const char* name;
  char nameBuffer[10];
};

/// The spelling of a native type in signature texts. Specialised for built-ins, the
/// standard templates the binding layer uses and, through the macros below, for every
/// record, class and enumeration that crosses the binding layer.
template <class T, class Enable = void>
struct TypeSpelling;

/// Specialised (with HXA_NAMED_TYPE) for the few types whose display name is the
/// signature text of StaticType::Name<T> instead of "#%08X".
template <class T>
struct IsNamedType : std::false_type {};

namespace detail {

/// A signature text built at compile time; `chars` is zero-terminated at `length`.
template <std::size_t Capacity>
struct SpellingText {
  char chars[Capacity + 1] = {};
  std::size_t length = 0;

  constexpr void Append(const char* text) {
    for (; *text != '\0'; ++text) chars[length++] = *text;
  }
  // A ">" directly after another ">" is written "> >".
  constexpr void CloseTemplate() {
    if (length > 0 && chars[length - 1] == '>') chars[length++] = ' ';
    chars[length++] = '>';
  }
};

/// Marks the end of a template argument list inside Compose.
struct CloseTemplate {};

template <class Piece>
struct PieceCapacity;
template <std::size_t N>
struct PieceCapacity<char[N]> : std::integral_constant<std::size_t, N - 1> {};
template <std::size_t N>
struct PieceCapacity<SpellingText<N>> : std::integral_constant<std::size_t, N> {};
template <>
struct PieceCapacity<CloseTemplate> : std::integral_constant<std::size_t, 2> {};

template <std::size_t Capacity, std::size_t N>
constexpr void AppendPiece(SpellingText<Capacity>& text, const char (&piece)[N]) {
  text.Append(piece);
}
template <std::size_t Capacity, std::size_t N>
constexpr void AppendPiece(SpellingText<Capacity>& text, const SpellingText<N>& piece) {
  text.Append(piece.chars);
}
template <std::size_t Capacity>
constexpr void AppendPiece(SpellingText<Capacity>& text, CloseTemplate) {
  text.CloseTemplate();
}

template <class... Pieces>
constexpr auto Compose(const Pieces&... pieces) {
  SpellingText<(PieceCapacity<Pieces>::value + ... + 0)> text;
  (AppendPiece(text, pieces), ...);
  return text;
}

template <class T>
inline constexpr auto kSpelling = TypeSpelling<T>::text;

template <class T>
inline constexpr auto kHashSignature = Compose("unsigned int __cdecl StaticType::HashCode<",
                                               kSpelling<T>, ">(void)");

template <class T>
inline constexpr auto kNameSignature = Compose("const char *__cdecl StaticType::Name<",
                                               kSpelling<T>, ">(void)");

/// A spelling given as one literal (built-ins and declared records).
template <std::size_t N>
constexpr auto Literal(const char (&text)[N]) {
  return Compose(text);
}

}  // namespace detail

namespace StaticType {

/// The signature text of a named type; only named types provide it.
template <class T>
requires IsNamedType<T>::value constexpr const char* Name() {
  return detail::kNameSignature<T>.chars;
}

/// [thread-safe] The address of T's identity, built on the first call.
template <class T>
const TypeIdentity* HashCode() {
  // A function-local static: thread-safe one-time construction, one record per type.
  static const TypeIdentity identity(
      HashText(detail::kHashSignature<T>.chars),
      IsNamedType<T>::value ? detail::kNameSignature<T>.chars : nullptr);
  return &identity;
}

}  // namespace StaticType

/// True when the two identities stand for the same type (equal codes).
inline bool SameType(const TypeIdentity* left, const TypeIdentity* right) {
  return left->hashCode == right->hashCode;
}

// Types named by the binding layer itself, declared here so their spellings are fixed once.
class BindingProperty;
class Failure;
template <class Error, class Value>
class MaybeType;
template <class Result>
class RemotingTypedResult;
struct Resource;

// Built-ins: integers are spelled by width so that both ABIs produce the same codes.
#define HXA_BUILTIN_SPELLING(type, spelling)                \
  template <>                                               \
  struct TypeSpelling<type> {                               \
    static constexpr auto text = detail::Literal(spelling); \
  }
HXA_BUILTIN_SPELLING(void, "void");
HXA_BUILTIN_SPELLING(bool, "bool");
HXA_BUILTIN_SPELLING(char, "char");
HXA_BUILTIN_SPELLING(signed char, "signed char");
HXA_BUILTIN_SPELLING(unsigned char, "unsigned char");
HXA_BUILTIN_SPELLING(short, "short");
HXA_BUILTIN_SPELLING(unsigned short, "unsigned short");
HXA_BUILTIN_SPELLING(int, "int");
HXA_BUILTIN_SPELLING(unsigned int, "unsigned int");
HXA_BUILTIN_SPELLING(long long, "__int64");
HXA_BUILTIN_SPELLING(unsigned long long, "unsigned __int64");
HXA_BUILTIN_SPELLING(float, "float");
HXA_BUILTIN_SPELLING(double, "double");
#undef HXA_BUILTIN_SPELLING

// `long` is 64 bits wide on x64 Linux and 32 bits on i386: spelled by its width.
namespace detail {
struct NarrowLongSpelling {
  static constexpr auto text = Literal("long");
};
struct NarrowUnsignedLongSpelling {
  static constexpr auto text = Literal("unsigned long");
};
}  // namespace detail
template <>
struct TypeSpelling<long>
    : std::conditional_t<sizeof(long) == 8, TypeSpelling<long long>, detail::NarrowLongSpelling> {};
template <>
struct TypeSpelling<unsigned long>
    : std::conditional_t<sizeof(long) == 8, TypeSpelling<unsigned long long>,
                         detail::NarrowUnsignedLongSpelling> {};

template <class T>
struct TypeSpelling<const T> {
  static constexpr auto text = detail::Compose(detail::kSpelling<T>, " const ");
};

template <class T>
struct TypeSpelling<std::char_traits<T>> {
  static constexpr auto text =
      detail::Compose("struct std::char_traits<", detail::kSpelling<T>, detail::CloseTemplate{});
};
template <class T>
struct TypeSpelling<std::allocator<T>> {
  static constexpr auto text =
      detail::Compose("class std::allocator<", detail::kSpelling<T>, detail::CloseTemplate{});
};
template <class T>
struct TypeSpelling<std::hash<T>> {
  static constexpr auto text =
      detail::Compose("struct std::hash<", detail::kSpelling<T>, detail::CloseTemplate{});
};
template <class T>
struct TypeSpelling<std::equal_to<T>> {
  static constexpr auto text =
      detail::Compose("struct std::equal_to<", detail::kSpelling<T>, detail::CloseTemplate{});
};
template <class T>
struct TypeSpelling<std::less<T>> {
  static constexpr auto text =
      detail::Compose("struct std::less<", detail::kSpelling<T>, detail::CloseTemplate{});
};
template <class First, class Second>
struct TypeSpelling<std::pair<First, Second>> {
  static constexpr auto text = detail::Compose("struct std::pair<", detail::kSpelling<First>, ",",
                                               detail::kSpelling<Second>, detail::CloseTemplate{});
};
template <class Char, class Traits, class Allocator>
struct TypeSpelling<std::basic_string<Char, Traits, Allocator>> {
  static constexpr auto text = detail::Compose(
      "class std::basic_string<", detail::kSpelling<Char>, ",", detail::kSpelling<Traits>, ",",
      detail::kSpelling<Allocator>, detail::CloseTemplate{});
};
template <class T, class Allocator>
struct TypeSpelling<std::vector<T, Allocator>> {
  static constexpr auto text =
      detail::Compose("class std::vector<", detail::kSpelling<T>, ",", detail::kSpelling<Allocator>,
                      detail::CloseTemplate{});
};
template <class Key, class T, class Hash, class Equal, class Allocator>
struct TypeSpelling<std::unordered_map<Key, T, Hash, Equal, Allocator>> {
  static constexpr auto text = detail::Compose(
      "class std::unordered_map<", detail::kSpelling<Key>, ",", detail::kSpelling<T>, ",",
      detail::kSpelling<Hash>, ",", detail::kSpelling<Equal>, ",", detail::kSpelling<Allocator>,
      detail::CloseTemplate{});
};
template <class Key, class T, class Compare, class Allocator>
struct TypeSpelling<std::map<Key, T, Compare, Allocator>> {
  static constexpr auto text = detail::Compose(
      "class std::map<", detail::kSpelling<Key>, ",", detail::kSpelling<T>, ",",
      detail::kSpelling<Compare>, ",", detail::kSpelling<Allocator>, detail::CloseTemplate{});
};
template <class T>
struct TypeSpelling<std::optional<T>> {
  static constexpr auto text =
      detail::Compose("class std::optional<", detail::kSpelling<T>, detail::CloseTemplate{});
};
template <class Error, class Value>
struct TypeSpelling<MaybeType<Error, Value>> {
  static constexpr auto text =
      detail::Compose("class Kavren::MaybeType<", detail::kSpelling<Error>, ",",
                      detail::kSpelling<Value>, detail::CloseTemplate{});
};
template <class Result>
struct TypeSpelling<RemotingTypedResult<Result>> {
  static constexpr auto text = detail::Compose("class Kavren::RemotingTypedResult<",
                                               detail::kSpelling<Result>, detail::CloseTemplate{});
};

}  // namespace Kavren

/// Declares the spelling of a record ("struct"), class ("class") or enumeration ("enum");
/// used once per type at global scope with the fully qualified name written without a
/// leading "::", e.g. HXA_BINDING_STRUCT(Kavren::Client::PlayerMessaging::Api::SimpleMessage).
#define HXA_BINDING_SPELLING(keyword, ...)                                            \
  template <>                                                                         \
  struct Kavren::TypeSpelling<__VA_ARGS__> {                                          \
    static constexpr auto text = ::Kavren::detail::Literal(keyword " " #__VA_ARGS__); \
  }
#define HXA_BINDING_STRUCT(...) HXA_BINDING_SPELLING("struct", __VA_ARGS__)
#define HXA_BINDING_CLASS(...) HXA_BINDING_SPELLING("class", __VA_ARGS__)
#define HXA_BINDING_ENUM(...) HXA_BINDING_SPELLING("enum", __VA_ARGS__)

/// Makes a type named: its display name becomes the StaticType::Name<T> signature text.
#define HXA_NAMED_TYPE(...) \
  template <>               \
  struct Kavren::IsNamedType<__VA_ARGS__> : std::true_type {}

HXA_BINDING_CLASS(Kavren::BindingProperty);
HXA_BINDING_CLASS(Kavren::Failure);
HXA_BINDING_STRUCT(Kavren::Resource);

// The framework's named types; the plugin's three are named beside its records.
HXA_NAMED_TYPE(Kavren::Resource);
HXA_NAMED_TYPE(Kavren::MaybeType<Kavren::Failure, void>);
