// Tests of the epytext texts of the API help.
#include "formats/help_epytext.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "binding/registry.h"
#include "formats/builtin_types.h"

namespace Kavren {
namespace {

struct EpytextRow {
  std::int32_t unused = 0;
};
enum class EpytextColour : std::int32_t { kRed = 1 };

}  // namespace
}  // namespace Kavren

HXA_BINDING_STRUCT(Kavren::EpytextRow);
HXA_BINDING_ENUM(Kavren::EpytextColour);

namespace Kavren {
namespace {

struct EscapeCase {
  const char* text;
  const char* expected;
};

class EscapeEpytextTest : public testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeEpytextTest, EscapesBracesAndALeadingMinus) {
  EXPECT_EQ(EscapeEpytext(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, EscapeEpytextTest,
                         testing::Values(EscapeCase{"-{x}", "E{-}E{lb}xE{rb}"},
                                         EscapeCase{"a-{x}", "a-E{lb}xE{rb}"},
                                         EscapeCase{"--", "E{-}-"}, EscapeCase{"-", "E{-}"},
                                         EscapeCase{"", ""}, EscapeCase{"}{", "E{rb}E{lb}"},
                                         EscapeCase{"plain text", "plain text"}));

class EpytextTypeTextTest : public testing::Test {
 protected:
  void SetUp() override {
    row_ = registry_.RegisterStruct<EpytextRow>("Row").descriptor();
    colour_ = registry_.RegisterEnum<EpytextColour>("Colour").descriptor();
  }
  BindingRegistry registry_;
  const TypeDescriptor* row_ = nullptr;
  const TypeDescriptor* colour_ = nullptr;
};

TEST_F(EpytextTypeTextTest, NamesEveryKind) {
  const std::vector<std::string> expected = {"",       "bool",   "int8",   "uint8",  "int16",
                                             "uint16", "int32",  "uint32", "int64",  "uint64",
                                             "float",  "double", "string", "object", "bytearray"};
  for (std::uint32_t kind = 0; kind < expected.size(); ++kind) {
    EXPECT_EQ(EpytextTypeText(TypeRef{static_cast<TypeKind>(kind)}), expected[kind]) << kind;
  }
  EXPECT_EQ(EpytextTypeText(TypeRef{TypeKind::kCallback}), "callback");
  EXPECT_EQ(EpytextTypeText(TypeRef{static_cast<TypeKind>(20)}), "");
}

TEST_F(EpytextTypeTextTest, LinksRegisteredTypesAndNestsElements) {
  EXPECT_EQ(EpytextTypeText(TypeRef{TypeKind::kStruct, TypeKind::kNone, row_}), "L{Row}");
  EXPECT_EQ(EpytextTypeText(TypeRef{TypeKind::kEnum, TypeKind::kNone, colour_}), "L{Colour}");
  EXPECT_EQ(EpytextTypeText(TypeRef{TypeKind::kVector, TypeKind::kStruct, row_}), "list[L{Row}]");
  EXPECT_EQ(EpytextTypeText(TypeRef{TypeKind::kMap, TypeKind::kInt32}), "dict[int32]");
  EXPECT_EQ(EpytextTypeText(TypeRef{TypeKind::kMap, TypeKind::kEnum, colour_}), "dict[L{Colour}]");
  EXPECT_EQ(EpytextTypeText(TypeRef{TypeKind::kVector, TypeKind::kBlob}), "list[bytearray]");
  // Without a descriptor there is no link target.
  EXPECT_EQ(EpytextTypeText(TypeRef{TypeKind::kStruct}), "struct");
  EXPECT_EQ(EpytextTypeText(TypeRef{TypeKind::kVector, TypeKind::kEnum}), "list[enum]");
}

TEST(EpytextItemTest, AsyncStateEnumerationByteForByte) {
  BindingRegistry registry;
  RegisterBuiltinTypes(registry);
  const TypeDescriptor* state = registry.FindType(std::string("BindingAsyncState"));
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(EpytextTypeHelpText(*state),
            "Possible states of an asynchronous operation.\r\n\r\n"
            "@cvar None: (0) Invalid state\r\n"
            "@cvar Running: (1) The operation is in flight\r\n"
            "@cvar Cancelling: (2) A request to cancel the operation has been made\r\n"
            "@cvar Cancelled: (3) The operation was cancelled\r\n"
            "@cvar Succeeded: (4) The operation completed successfully\r\n"
            "@cvar Failed: (5) The operation encountered an error\r\n"
            "@tags: $builtin,async\r\n"
            "@size: 4\r\n");
}

TEST(EpytextItemTest, EnumeratorsBySignedValueWithoutDescriptionOrTags) {
  BindingRegistry registry;
  // Descriptions are written as stored, braces included; equal values keep name order.
  const TypeDescriptor* colour = registry.RegisterEnum<EpytextColour>("Colour")
                                     .AddValue("Red", 1, "{r}")
                                     .AddValue("Minus", -1)
                                     .AddValue("Blue", 1)
                                     .descriptor();
  EXPECT_EQ(EpytextTypeHelpText(*colour),
            "@cvar Minus: (-1)\r\n"
            "@cvar Blue: (1)\r\n"
            "@cvar Red: (1) {r}\r\n"
            "@size: 4\r\n");
}

TEST(EpytextItemTest, RecordListsFieldsWithUnescapedDescriptions) {
  BindingRegistry registry;
  RegisterBuiltinTypes(registry);
  const TypeDescriptor* callback = registry.FindType(std::string("BindingCallbackEvent"));
  ASSERT_NE(callback, nullptr);
  EXPECT_EQ(EpytextTypeHelpText(*callback),
            "Represents the parameters of a call to a provided callback.\r\n\r\n"
            "@ivar id: ID of the callback being invoked\r\n"
            "@type id: uint32\r\n"
            "@ivar parameters: Callback parameters\r\n"
            "@type parameters: list[object]\r\n"
            "@tags: $builtin\r\n");

  const TypeDescriptor* row = registry.RegisterStruct<EpytextRow>("Row")
                                  .SetDescription("-{row}")
                                  .AddField("unused", &EpytextRow::unused, "-{raw}")
                                  .descriptor();
  EXPECT_EQ(EpytextTypeHelpText(*row),
            "E{-}E{lb}rowE{rb}\r\n\r\n"
            "@ivar unused: -{raw}\r\n"
            "@type unused: int32\r\n");
}

TEST(EpytextItemTest, FunctionTexts) {
  FunctionRecord bare;
  bare.name = "Bare";
  EXPECT_EQ(EpytextFunctionText(bare), "");

  BindingRegistry registry;
  const TypeDescriptor* row = registry.RegisterStruct<EpytextRow>("Row").descriptor();
  FunctionRecord full;
  full.name = "GetRows";
  full.description = "-Lists {rows}.";
  full.help = "More help";
  full.arguments.push_back(
      FunctionArgument{"filter", "Which {rows}", TypeRef{TypeKind::kString}, true});
  full.arguments.push_back(FunctionArgument{"limit", "", TypeRef{TypeKind::kUint32}, false});
  full.arguments.push_back(FunctionArgument{"page", "Page", TypeRef{TypeKind::kInt32}, false});
  full.returnType = TypeRef{TypeKind::kVector, TypeKind::kStruct, row};
  full.tags = {"a", "b"};
  full.threadSafe = true;
  full.async = true;
  EXPECT_EQ(EpytextFunctionText(full),
            "E{-}Lists E{lb}rowsE{rb}.\r\n\r\n"
            "More help\r\n\r\n"
            "@param filter: (optional) Which E{lb}rowsE{rb}\r\n"
            "@type filter: string\r\n"
            "@type limit: uint32\r\n"
            "@param page: Page\r\n"
            "@type page: int32\r\n"
            "@rtype: list[L{Row}]\r\n"
            "@tags: a,b\r\n"
            "@threadsafe: true\r\n"
            "@async: list[L{Row}]\r\n");
}

TEST(EpytextItemTest, EventTextAlwaysHasItsParagraph) {
  EventRecord event;
  event.name = "OnThing";
  EXPECT_EQ(EpytextEventText(event), "\r\n\r\n");
  event.description = "Fired {now}.";
  event.tags = {"$builtin", "x"};
  EXPECT_EQ(EpytextEventText(event), "Fired E{lb}nowE{rb}.\r\n\r\n@tags: $builtin,x\r\n");
}

}  // namespace
}  // namespace Kavren
