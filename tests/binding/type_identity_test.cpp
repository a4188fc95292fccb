// Type identity: check values, spellings, display names.
#include "binding/type_identity.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace Kavren {
struct IdentityProbe489 {};
}  // namespace Kavren
namespace Kavren::Testing {
enum class IdentityProbeKind : std::uint8_t { kFirst };
}  // namespace Kavren::Testing

HXA_BINDING_STRUCT(Kavren::IdentityProbe489);
HXA_BINDING_ENUM(Kavren::Testing::IdentityProbeKind);

namespace Kavren {
namespace {

template <class T>
std::string Spelling() {
  return detail::kSpelling<T>.chars;
}

template <class T>
std::string Signature() {
  return detail::kHashSignature<T>.chars;
}

constexpr char kString[] =
    "class std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> >";

TEST(HashTextTest, MatchesCheckValues) {
  EXPECT_EQ(HashText("abc", kHashSeed), 0x1A47E90Bu);
  EXPECT_EQ(HashText("id"), 0x37386AE0u);
  EXPECT_EQ(HashText(""), kHashSeed);
  // Bytes above 127 are hashed as unsigned values.
  EXPECT_EQ(HashText("\xff", 0), 0xFFu * 0x01000193u);
}

TEST(TypeIdentityTest, BuiltinCodesMatchCheckValues) {
  EXPECT_EQ(StaticType::HashCode<int>()->hashCode, 0x1C4DE261u);
  EXPECT_EQ(StaticType::HashCode<bool>()->hashCode, 0x6AB1187Cu);
  EXPECT_EQ(StaticType::HashCode<void>()->hashCode, 0x1BE7EF8Eu);
  EXPECT_EQ(StaticType::HashCode<unsigned int>()->hashCode, 0x3494B562u);
  EXPECT_EQ(StaticType::HashCode<unsigned long long>()->hashCode, 0xC647E802u);
  // Fixed-width integers have the same code on both ABIs.
  EXPECT_EQ(StaticType::HashCode<std::uint64_t>()->hashCode, 0xC647E802u);
  EXPECT_EQ(StaticType::HashCode<std::int32_t>()->hashCode, 0x1C4DE261u);
  EXPECT_EQ(Spelling<std::int64_t>(), "__int64");
  EXPECT_EQ(Spelling<std::int8_t>(), "signed char");
  EXPECT_EQ(Spelling<std::uint16_t>(), "unsigned short");
}

TEST(TypeIdentityTest, SignatureTextOfInt) {
  EXPECT_EQ(Signature<int>(), "unsigned int __cdecl StaticType::HashCode<int>(void)");
}

TEST(TypeIdentityTest, UnnamedTypeIsNamedByItsCode) {
  const TypeIdentity* identity = StaticType::HashCode<int>();
  EXPECT_STREQ(identity->name, "#1C4DE261");
  EXPECT_EQ(identity->name, identity->nameBuffer);
  EXPECT_EQ(identity->nameBuffer[9], '\0');
  EXPECT_EQ(std::strlen(identity->name), 9u);
}

TEST(TypeIdentityTest, LeadingZeroDigitsArePrinted) {
  const TypeIdentity* identity = StaticType::HashCode<IdentityProbe489>();
  EXPECT_EQ(identity->hashCode, 0x003E8027u);
  EXPECT_STREQ(identity->name, "#003E8027");
}

TEST(TypeIdentityTest, AccessorReturnsTheSameRecord) {
  const TypeIdentity* first = StaticType::HashCode<std::vector<int>>();
  const TypeIdentity* second = StaticType::HashCode<std::vector<int>>();
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->hashCode, second->hashCode);
}

TEST(TypeIdentityTest, StandardTemplateSpellings) {
  EXPECT_EQ(Spelling<std::string>(), kString);
  EXPECT_EQ(Spelling<std::vector<std::string>>(), std::string("class std::vector<") + kString +
                                                      ",class std::allocator<" + kString + " > >");
  EXPECT_EQ(StaticType::HashCode<std::vector<std::string>>()->hashCode, 0xBFDBCD22u);
  EXPECT_EQ(Spelling<std::vector<bool>>(), "class std::vector<bool,class std::allocator<bool> >");
  EXPECT_EQ(StaticType::HashCode<std::vector<bool>>()->hashCode, 0x095241FEu);
  EXPECT_EQ(StaticType::HashCode<std::vector<std::uint8_t>>()->hashCode, 0x3CA48210u);
  EXPECT_EQ(
      Signature<std::vector<BindingProperty>>(),
      "unsigned int __cdecl StaticType::HashCode<class std::vector<class Kavren::BindingProperty,"
      "class std::allocator<class Kavren::BindingProperty> >>(void)");
  EXPECT_EQ((StaticType::HashCode<std::unordered_map<std::string, int>>()->hashCode), 0xEF9E86CFu);
  EXPECT_EQ(Spelling<Testing::IdentityProbeKind>(), "enum Kavren::Testing::IdentityProbeKind");
}

TEST(TypeIdentityTest, NamedTypesUseTheNameSignature) {
  struct Row {
    const TypeIdentity* identity;
    const char* name;
    std::uint32_t code;
  };
  const Row rows[] = {
      {StaticType::HashCode<Resource>(),
       "const char *__cdecl StaticType::Name<struct Kavren::Resource>(void)", 0xFC86B8CEu},
      {StaticType::HashCode<MaybeType<Failure, void>>(),
       "const char *__cdecl StaticType::Name<class Kavren::MaybeType<class "
       "Kavren::Failure,void>>(void)",
       0x4FEB9AA0u},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_STREQ(row.identity->name, row.name);
    EXPECT_EQ(row.identity->hashCode, row.code);
    EXPECT_EQ(std::memcmp(row.identity->nameBuffer, "\0\0\0\0\0\0\0\0\0\0", 10), 0);
  }
  EXPECT_STREQ(StaticType::Name<Resource>(),
               "const char *__cdecl StaticType::Name<struct Kavren::Resource>(void)");
  EXPECT_EQ(StaticType::Name<Resource>(), StaticType::HashCode<Resource>()->name);
}

}  // namespace
}  // namespace Kavren
