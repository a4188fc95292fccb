// The API block walked as the host walks it: counts, links, kinds, names, tags, locations.
#include "http/api_block.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "abi/api_block.h"
#include "abi/plugin.h"
#include "http/router.h"

namespace Kavren::ApiBlockTesting {
enum class Color : std::int32_t { kRed = 1, kBlue = 2 };
struct Item {
  std::int32_t id = 0;
  std::string title;
  Color color = Color::kRed;
};
}  // namespace Kavren::ApiBlockTesting

HXA_BINDING_ENUM(Kavren::ApiBlockTesting::Color);
HXA_BINDING_STRUCT(Kavren::ApiBlockTesting::Item);

namespace Kavren {
namespace {

using ApiBlockTesting::Color;
using ApiBlockTesting::Item;
using ::testing::ElementsAre;

// Packed fields are read by value.
template <class T>
T Field(T value) {
  return value;
}

std::vector<std::string> Texts(const char* const* texts, std::uint32_t count) {
  std::vector<std::string> result;
  for (std::uint32_t i = 0; i < count; ++i) result.emplace_back(texts[i]);
  return result;
}

// Counts the records of a list by following the first word of each.
template <class Record>
std::size_t CountLinked(const Record* record) {
  std::size_t count = 0;
  for (; record != nullptr; record = Field(record->next)) ++count;
  return count;
}

class ApiBlockTest : public ::testing::Test {
 protected:
  ApiBlockTest() {
    router_.SetApiTags({"Plugins", "Plugin test"});
    router_.RegisterEnum<Color>("Color").AddValue("Red", 1, "warm").AddValue("Blue", 2);
    router_.RegisterStruct<Item>("Item")
        .AddField("id", &Item::id, "the id")
        .AddField("title", &Item::title)
        .AddField("color", &Item::color);
    registry_.RegisterEvent<Item>("OnItem").SetDescription("An item changed.").AddTag("items");
  }

  void RegisterEndpoints() {
    router_.RegisterEndpoint(
        HttpMethod::Get, "/v1/item", [] { return Item{}; }, {}, "Reads the item.");
    router_.RegisterEndpoint(
        HttpMethod::Delete, "/v1/item/{id}/acknowledge",
        [](std::int32_t, std::optional<std::string>) { return MaybeType<Failure, void>(); },
        {PathArgument("id", "Which item"), {"note", "", kLocationQuery}});
  }

  BindingRegistry registry_;
  Router router_{registry_};
};

TEST_F(ApiBlockTest, DescribesEachEndpointWithItsEntryAndRegistration) {
  RegisterEndpoints();
  const Abi::PluginApiBlock block = router_.BuildApiBlock();
  ASSERT_EQ(block.count, 2u);
  ASSERT_EQ(CountLinked(block.descriptors), 2u);
  // Function-name order; the array is contiguous and linked.
  const Abi::ApiEndpointDescriptor& del = block.descriptors[0];
  const Abi::ApiEndpointDescriptor& get = block.descriptors[1];
  EXPECT_EQ(Field(del.next), &get);
  EXPECT_EQ(Field(get.next), nullptr);

  EXPECT_STREQ(Field(del.function.name), "DeleteV1ItemByIdAcknowledge");
  EXPECT_STREQ(Field(get.function.name), "GetV1Item");
  EXPECT_EQ(Field(del.method), 1);
  EXPECT_EQ(Field(get.method), 2);
  EXPECT_STREQ(Field(del.urlTemplate), "/v1/item/{id}/acknowledge");
  EXPECT_STREQ(Field(del.customMethod), "");
  EXPECT_EQ(Field(del.requestEntry), &RouterRequestEntry);
  EXPECT_EQ(Field(get.requestEntry), &RouterRequestEntry);

  const Abi::ApiEndpointRegistration* registration = Field(del.function.registration);
  ASSERT_NE(registration, nullptr);
  EXPECT_EQ(Field(registration->router), &router_);
  EXPECT_EQ(Field(registration->function), router_.Endpoints().at("DeleteV1ItemByIdAcknowledge"));

  // Arguments and their locations, in argument order.
  EXPECT_EQ(Field(get.function.arguments), nullptr);
  EXPECT_EQ(Field(get.function.argumentCount), 0u);
  EXPECT_EQ(Field(get.locations), nullptr);
  ASSERT_EQ(Field(del.function.argumentCount), 2u);
  const Abi::ApiArgumentRecord* id = Field(del.function.arguments);
  ASSERT_EQ(CountLinked(id), 2u);
  EXPECT_STREQ(Field(id->name), "id");
  EXPECT_STREQ(Field(id->description), "Which item");
  EXPECT_EQ(Field(id->kind), 6u);  // int32
  EXPECT_EQ(Field(id->optional), 0);
  const Abi::ApiArgumentRecord* note = Field(id->next);
  EXPECT_STREQ(Field(note->name), "note");
  EXPECT_EQ(Field(note->kind), 12u);  // string
  EXPECT_EQ(Field(note->optional), 1);
  const Abi::ApiLocationEntry* location = Field(del.locations);
  ASSERT_EQ(CountLinked(location), 2u);
  EXPECT_EQ(Field(location->location), 2);
  EXPECT_EQ(Field(Field(location->next)->location), 1);

  // Return types: a record by name; an outcome returns nothing.
  EXPECT_EQ(Field(get.function.returnKind), 17u);
  EXPECT_STREQ(Field(get.function.returnTypeName), "Item");
  EXPECT_EQ(Field(del.function.returnKind), 0u);
  EXPECT_STREQ(Field(del.function.returnTypeName), "");
  EXPECT_STREQ(Field(get.function.description), "Reads the item.");
  EXPECT_STREQ(Field(get.function.asyncResultType), "");
  EXPECT_THAT(Texts(Field(get.function.tags), Field(get.function.tagCount)),
              ElementsAre("Plugins", "Plugin test"));

  // The endpoint's function description is a copy of its function record's body.
  const Abi::ApiFunctionRecord* functions = router_.Exports().Functions();
  ASSERT_EQ(CountLinked(functions), 2u);
  EXPECT_STREQ(Field(functions->body.name), "DeleteV1ItemByIdAcknowledge");
  EXPECT_EQ(Field(functions->body.registration), nullptr);
  EXPECT_EQ(Field(functions->body.arguments), Field(del.function.arguments));
}

TEST_F(ApiBlockTest, DescribesTypesFieldsValuesAndEvents) {
  const Abi::PluginApiBlock block = router_.BuildApiBlock();
  EXPECT_EQ(block.count, 0u);
  EXPECT_EQ(block.descriptors, nullptr);
  ASSERT_EQ(block.typeCount, 2u);
  ASSERT_EQ(CountLinked(block.types), 2u);
  EXPECT_EQ(Field(block.types[0].next), &block.types[1]);

  const Abi::ApiTypeRecord& color = block.types[0];
  EXPECT_STREQ(Field(color.name), "Color");
  EXPECT_EQ(Field(color.size), 4u);
  EXPECT_EQ(Field(color.fields), nullptr);
  ASSERT_EQ(Field(color.count), 2u);
  const Abi::ApiEnumValueRecord* blue = Field(color.values);
  ASSERT_EQ(CountLinked(blue), 2u);
  EXPECT_STREQ(Field(blue->name), "Blue");  // name order
  EXPECT_EQ(Field(blue->value), 2);
  EXPECT_STREQ(Field(Field(blue->next)->name), "Red");
  EXPECT_STREQ(Field(Field(blue->next)->description), "warm");
  EXPECT_THAT(Texts(Field(color.tags), Field(color.tagCount)),
              ElementsAre("Plugins", "Plugin test"));

  const Abi::ApiTypeRecord& item = block.types[1];
  EXPECT_STREQ(Field(item.name), "Item");
  EXPECT_STREQ(Field(item.nameSpace), "");
  EXPECT_EQ(Field(item.size), sizeof(Item));
  EXPECT_EQ(Field(item.values), nullptr);
  ASSERT_EQ(Field(item.count), 3u);
  const Abi::ApiFieldRecord* fields = Field(item.fields);
  ASSERT_EQ(CountLinked(fields), 3u);
  EXPECT_STREQ(Field(fields[0].name), "id");
  EXPECT_STREQ(Field(fields[0].description), "the id");
  EXPECT_EQ(Field(fields[0].offset), offsetof(Item, id));
  EXPECT_EQ(Field(fields[0].kind), 6u);
  EXPECT_STREQ(Field(fields[0].typeName), "");
  EXPECT_EQ(Field(fields[1].offset), offsetof(Item, title));
  EXPECT_EQ(Field(fields[2].kind), 16u);  // enumeration, by its registered name
  EXPECT_STREQ(Field(fields[2].typeName), "Color");

  ASSERT_EQ(block.eventCount, 1u);
  EXPECT_STREQ(Field(block.events[0].name), "OnItem");
  EXPECT_STREQ(Field(block.events[0].payloadTypeName), "Item");
  EXPECT_STREQ(Field(block.events[0].description), "An item changed.");
  EXPECT_THAT(Texts(Field(block.events[0].tags), Field(block.events[0].tagCount)),
              ElementsAre("items"));
  EXPECT_EQ(Field(block.events[0].next), nullptr);
}

TEST_F(ApiBlockTest, KeepsRegistrationsAcrossBuilds) {
  RegisterEndpoints();
  const Abi::PluginApiBlock first = router_.BuildApiBlock();
  const Abi::ApiEndpointRegistration* registration =
      Field(first.descriptors[0].function.registration);
  const Abi::PluginApiBlock second = router_.BuildApiBlock();
  EXPECT_EQ(Field(second.descriptors[0].function.registration), registration);
}

#if defined(__i386__)
// The host reads the descriptor by byte offsets.
TEST_F(ApiBlockTest, DescriptorFieldsSitAtTheirOffsets) {
  RegisterEndpoints();
  const Abi::PluginApiBlock block = router_.BuildApiBlock();
  const auto* bytes = reinterpret_cast<const unsigned char*>(&block.descriptors[0]);
  auto word = [&](std::size_t offset) {
    std::uint32_t value;
    std::memcpy(&value, bytes + offset, 4);
    return value;
  };
  EXPECT_EQ(word(0), reinterpret_cast<std::uint32_t>(&block.descriptors[1]));
  EXPECT_EQ(word(8),
            reinterpret_cast<std::uint32_t>(Field(block.descriptors[0].function.registration)));
  EXPECT_EQ(word(61), reinterpret_cast<std::uint32_t>(&RouterRequestEntry));
  EXPECT_EQ(word(73), 1u);
  EXPECT_EQ(word(24), 2u);
}
#endif

}  // namespace
}  // namespace Kavren
