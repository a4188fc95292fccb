// The keyed hash of texts that places interned entries in a pool's buckets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace Kavren::detail {

/// The hash of all bytes of `text` (zero bytes included) under a key drawn at random once
/// per process: 64-bit multiply-and-fold steps over key-mixed words, folded to 32 bits. Texts come
/// from outside (documents, requests), so a hash anyone can compute would let a sender choose texts
/// that all land in one bucket and make interning quadratic; under a secret key the buckets stay
/// even. The values differ from process to process: nothing may keep or compare them outside the
/// process (type identities use HashText, which is fixed).
[[nodiscard]] std::uint32_t TextHash(std::string_view text) noexcept;

/// A text with its TextHash, for interning without hashing again.
struct HashedText {
  std::string_view text;
  std::uint32_t hash;
};

/// The text up to its first zero byte (at most `length` bytes) and its hash: how the
/// readers take texts that end at a NUL.
[[nodiscard]] HashedText HashUntilZero(const char* text, std::size_t length) noexcept;

}  // namespace Kavren::detail
