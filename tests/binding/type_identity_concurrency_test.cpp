// Type identities built from two threads at once are one record with the same values.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "binding/type_identity.h"

namespace Kavren::IdentityRace {
template <int N>
struct Probe {};
}  // namespace Kavren::IdentityRace

template <int N>
constexpr auto ProbeDigits() {
  Kavren::detail::SpellingText<2> digits;
  digits.chars[0] = static_cast<char>('0' + N / 10);
  digits.chars[1] = static_cast<char>('0' + N % 10);
  digits.length = 2;
  return digits;
}

// "struct Kavren::IdentityRace::Probe<NN>", a distinct code per N.
template <int N>
struct Kavren::TypeSpelling<Kavren::IdentityRace::Probe<N>> {
  static constexpr auto text = ::Kavren::detail::Compose(
      "struct Kavren::IdentityRace::Probe<", ProbeDigits<N>(), ::Kavren::detail::CloseTemplate{});
};

namespace Kavren {
namespace {

template <int... N>
std::vector<const TypeIdentity*> BuildAll(std::integer_sequence<int, N...>) {
  return {StaticType::HashCode<IdentityRace::Probe<N>>()...};
}

TEST(TypeIdentityConcurrency, TwoThreadsBuildTheSameRecords) {
  using Sequence = std::make_integer_sequence<int, 64>;
  std::atomic<bool> go{false};
  std::vector<const TypeIdentity*> first;
  std::vector<const TypeIdentity*> second;
  std::thread one([&] {
    while (!go.load()) {
    }
    first = BuildAll(Sequence{});
  });
  std::thread two([&] {
    while (!go.load()) {
    }
    second = BuildAll(Sequence{});
  });
  go.store(true);
  one.join();
  two.join();
  ASSERT_EQ(first.size(), second.size());
  for (std::size_t index = 0; index < first.size(); ++index) {
    EXPECT_EQ(first[index], second[index]);
    EXPECT_EQ(first[index]->name, first[index]->nameBuffer);
    EXPECT_EQ(std::strlen(first[index]->name), 9u);
    if (index > 0) {
      EXPECT_NE(first[index]->hashCode, first[index - 1]->hashCode);
    }
  }
}

}  // namespace
}  // namespace Kavren
