// The keyed text hash of interning: its spread over buckets and the texts it takes.
#include "binding/text_hash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

namespace Kavren::detail {
namespace {

// Texts whose plain FNV-1a hashes agree in their low bits (the last byte of each is chosen
// so) still spread over the buckets those bits would pick, and every byte counts.
TEST(TextHashTest, SpreadsTextsChosenToShareFnvLowBits) {
  std::set<std::uint32_t> keyedLow;
  for (int i = 0; i < 1000; ++i) {
    std::string text = "k" + std::to_string(i);
    std::uint32_t state = 0x811C9DC5u;
    for (const char c : text) state = (state ^ static_cast<unsigned char>(c)) * 0x01000193u;
    text += static_cast<char>(state & 0xFF);  // (state ^ byte) * prime = 0 modulo 256
    keyedLow.insert(TextHash(text) & 0xFF);
  }
  EXPECT_GT(keyedLow.size(), 200u);
  EXPECT_EQ(TextHash("abc"), TextHash(std::string("abc")));
  EXPECT_NE(TextHash(std::string_view("a\0b", 3)), TextHash(std::string_view("a\0c", 3)));
  EXPECT_EQ(HashUntilZero("ab\0cd", 5).text, "ab");
  EXPECT_EQ(HashUntilZero("ab\0cd", 5).hash, TextHash("ab"));
}

}  // namespace
}  // namespace Kavren::detail
