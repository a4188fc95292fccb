// Tests of the API help provider's native form, its formats and the built-in "Help".
#include "formats/help.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "formats/builtin_types.h"
#include "formats/help_epytext.h"
#include "formats/value_text_support.h"

namespace Kavren {
namespace {

struct HelpRow {
  std::int32_t number = 0;
};
struct HelpTable {
  std::vector<HelpRow> rows;
  std::unordered_map<std::string, std::int32_t> counts;
  std::unordered_map<std::string, HelpRow> byName;
  std::vector<std::uint8_t> bytes;
};

}  // namespace
}  // namespace Kavren

HXA_BINDING_STRUCT(Kavren::HelpRow);
HXA_BINDING_STRUCT(Kavren::HelpTable);

namespace Kavren {
namespace {

using Testing::KindText;
using Format = BindingHelpProvider::HelpFormat;

std::vector<std::string> Texts(const BindingProperty& list, const char* member) {
  std::vector<std::string> texts;
  for (const BindingProperty& element : list.Elements()) {
    texts.emplace_back(element.Find(member).GetString());
  }
  return texts;
}

const BindingProperty& ElementNamed(const BindingProperty& list, std::string_view name) {
  for (const BindingProperty& element : list.Elements()) {
    if (element.Find("name").GetString() == name) return element;
  }
  ADD_FAILURE() << "no element " << name;
  return BindingProperty::EmptySentinel();
}

class HelpTest : public testing::Test {
 protected:
  void SetUp() override { registry_.Reinitialise(&RegisterBuiltinTypes); }

  void RegisterTable() {
    registry_.RegisterStruct<HelpRow>("Row").AddField("number", &HelpRow::number);
    registry_.RegisterStruct<HelpTable>("Table")
        .AddField("rows", &HelpTable::rows)
        .AddField("counts", &HelpTable::counts)
        .AddField("byName", &HelpTable::byName)
        .AddField("bytes", &HelpTable::bytes);
  }

  void DescribeRegistryAs(BindingProperty& out, Format format) {
    BindingHelpProvider::DescribeApi(out, registry_.FunctionsSnapshot(), registry_.TypesSnapshot(),
                                     registry_.EventsSnapshot(), format, registry_);
  }

  BindingRegistry registry_;
};

TEST_F(HelpTest, NativeHelpOfTheBuiltinApiAsAClientWalksIt) {
  const BindingResult help = BindingHelpProvider::DescribeRegistry(registry_);
  ASSERT_TRUE(help.ok);

  // No functions: the member is there, and empty rather than an empty list.
  EXPECT_TRUE(help.value.Has("functions"));
  EXPECT_TRUE(help.value.Find("functions").Is(ValueKind::kEmpty));

  const BindingProperty& types = help.value.Find("types");
  EXPECT_EQ(Texts(types, "name"),
            (std::vector<std::string>{
                "BindingAsyncCancelEvent", "BindingAsyncFailureEvent", "BindingAsyncState",
                "BindingCallbackEvent", "BindingFullApiHelp", "BindingFullArgumentHelp",
                "BindingFullEnumValueHelp", "BindingFullEventHelp", "BindingFullFieldHelp",
                "BindingFullFunctionHelp", "BindingFullTypeHelp", "BindingFullTypeIdentifier",
                "BindingGenericAsyncEvent", "BindingGenericEvent", "BindingHelpFormat"}));

  const BindingProperty& state = ElementNamed(types, "BindingAsyncState");
  EXPECT_EQ(KindText(state),
            "{description:\"Possible states of an asynchronous operation.\",fields:[],"
            "name:\"BindingAsyncState\",nameSpace:\"\",size:u4,tags:[\"$builtin\",\"async\"],"
            "values:["
            "{description:\"The operation was cancelled\",name:\"Cancelled\",value:s3},"
            "{description:\"A request to cancel the operation has been made\","
            "name:\"Cancelling\",value:s2},"
            "{description:\"The operation encountered an error\",name:\"Failed\",value:s5},"
            "{description:\"Invalid state\",name:\"None\",value:s0},"
            "{description:\"The operation is in flight\",name:\"Running\",value:s1},"
            "{description:\"The operation completed successfully\",name:\"Succeeded\","
            "value:s4}]}");

  // The five event records, with their fields in registration order.
  const std::vector<std::string> builtin = {"$builtin"};
  const std::vector<std::string> async = {"$builtin", "async"};
  const std::vector<std::tuple<const char*, std::vector<std::string>, std::vector<std::string>>>
      records = {
          {"BindingGenericEvent", {"data"}, builtin},
          {"BindingCallbackEvent", {"id", "parameters"}, builtin},
          {"BindingGenericAsyncEvent", {"asyncToken", "data"}, async},
          {"BindingAsyncFailureEvent", {"asyncToken", "error"}, async},
          {"BindingAsyncCancelEvent", {"asyncToken"}, async},
      };
  for (const auto& [name, fields, tags] : records) {
    const BindingProperty& record = ElementNamed(types, name);
    EXPECT_EQ(Texts(record.Find("fields"), "name"), fields) << name;
    std::vector<std::string> tagTexts;
    for (const BindingProperty& tag : record.Find("tags").Elements()) {
      tagTexts.emplace_back(tag.GetString());
    }
    EXPECT_EQ(tagTexts, tags) << name;
    EXPECT_EQ(record.Find("values").Size(), 0u) << name;
  }
  const BindingProperty& failure = ElementNamed(types, "BindingAsyncFailureEvent");
  EXPECT_EQ(KindText(failure.Find("fields").At(1)),
            "{description:\"Error message\",name:\"error\",offset:u" +
                std::to_string(detail::MemberOffset(&BindingAsyncFailureEvent::error)) +
                ",optional:false,type:{elementType:\"\",type:\"string\"}}");
  EXPECT_EQ(KindText(ElementNamed(types, "BindingCallbackEvent").Find("fields").At(1).Find("type")),
            "{elementType:\"object\",type:\"vector\"}");
  EXPECT_EQ(KindText(ElementNamed(types, "BindingFullTypeHelp").Find("tags")),
            "[\"$builtin\",\"help\"]");

  EXPECT_EQ(KindText(help.value.Find("events")),
            "[{description:\"Fired when a callback is invoked.\",name:\"OnCallback\","
            "nameSpace:\"\",tags:[\"$builtin\"],"
            "type:{elementType:\"\",type:\"BindingCallbackEvent\"}}]");
}

TEST_F(HelpTest, TypeIdentifiersOfVectorsMapsAndBlobs) {
  RegisterTable();
  const BindingResult help = BindingHelpProvider::DescribeRegistry(registry_);
  const BindingProperty& table = ElementNamed(help.value.Find("types"), "Table");
  std::vector<std::string> identifiers;
  for (const BindingProperty& field : table.Find("fields").Elements()) {
    identifiers.push_back(KindText(field.Find("type")));
  }
  EXPECT_EQ(identifiers, (std::vector<std::string>{
                             "{elementType:\"Row\",type:\"vector\"}",
                             "{elementType:\"int32\",type:\"map\"}",
                             "{elementType:\"Row\",type:\"map\"}",
                             "{elementType:\"\",type:\"blob\"}",
                         }));
}

TEST_F(HelpTest, FunctionsInNativeForm) {
  RegisterTable();
  auto function = std::make_unique<FunctionRecord>();
  function->name = "GetTable";
  function->nameSpace = "tables";
  function->arguments.push_back(
      FunctionArgument{"filter", "Which rows", TypeRef{TypeKind::kString}, true, 0});
  function->returnType =
      TypeRef{TypeKind::kStruct, TypeKind::kNone, registry_.FindType(std::string("Table"))};
  function->description = "Reads the table.";
  function->help = "More.";
  function->threadSafe = true;
  function->async = true;
  function->tags = {"t"};
  registry_.AddFunction(std::move(function));
  auto bare = std::make_unique<FunctionRecord>();
  bare->name = "Bare";
  registry_.AddFunction(std::move(bare));
  // Asynchronous, but the returned record was never registered.
  auto orphan = std::make_unique<FunctionRecord>();
  orphan->name = "Orphan";
  orphan->returnType = TypeRef{TypeKind::kStruct};
  orphan->async = true;
  registry_.AddFunction(std::move(orphan));

  const BindingResult help = BindingHelpProvider::DescribeRegistry(registry_);
  const BindingProperty& functions = help.value.Find("functions");
  EXPECT_EQ(Texts(functions, "name"), (std::vector<std::string>{"Bare", "GetTable", "Orphan"}));
  EXPECT_EQ(KindText(functions.At(1)),
            "{arguments:[{description:\"Which rows\",name:\"filter\",optional:true,"
            "type:{elementType:\"\",type:\"string\"}}],async:\"Table\","
            "description:\"Reads the table.\",help:\"More.\",name:\"GetTable\","
            "nameSpace:\"tables\",returns:{elementType:\"\",type:\"Table\"},tags:[\"t\"],"
            "threadSafe:true}");
  EXPECT_EQ(KindText(functions.At(0)),
            "{arguments:[],async:\"\",description:\"\",help:\"\",name:\"Bare\",nameSpace:\"\","
            "returns:{elementType:\"\",type:\"\"},tags:[],threadSafe:false}");
  EXPECT_EQ(functions.At(2).Find("async").GetString(), "struct");
}

TEST_F(HelpTest, EpytextFormSetsOneTextPerItem) {
  BindingProperty out;
  DescribeRegistryAs(out, Format::kEpytext);
  EXPECT_TRUE(out.Find("functions").Is(ValueKind::kEmpty));
  const BindingProperty& types = out.Find("types");
  ASSERT_TRUE(types.Is(ValueKind::kStructure));
  EXPECT_EQ(types.Size(), 15u);
  EXPECT_EQ(types.Find("BindingAsyncState").GetString(),
            EpytextTypeHelpText(*registry_.FindType(std::string("BindingAsyncState"))));
  EXPECT_EQ(KindText(out.Find("events")),
            "{OnCallback:\"Fired when a callback is invoked.\r\n\r\n@tags: $builtin\r\n\"}");
}

TEST_F(HelpTest, UnknownFormatAddsOnlyEmptyMembersAndKeepsOthers) {
  BindingProperty out;
  out.Member("kept").SetSigned(1);
  DescribeRegistryAs(out, static_cast<Format>(3));
  EXPECT_EQ(KindText(out), "{events:null,functions:null,kept:s1,types:null}");
}

TEST(HelpWithoutHelpTypesTest, UnregisteredHelpRecordsLeaveEmptyElements) {
  BindingRegistry registry;
  registry.RegisterStruct<HelpRow>("Row").AddField("number", &HelpRow::number);
  const BindingResult help = BindingHelpProvider::DescribeRegistry(registry);
  EXPECT_EQ(KindText(help.value), "{events:null,functions:null,types:[null]}");
}

TEST_F(HelpTest, BuiltinFunctions) {
  const BindingResult help = CallBuiltinFunction("Help", registry_);
  ASSERT_TRUE(help.ok);
  EXPECT_EQ(KindText(help.value), KindText(BindingHelpProvider::DescribeRegistry(registry_).value));
  for (const char* name : {"help", "Describe", ""}) {
    const BindingResult other = CallBuiltinFunction(name, registry_);
    EXPECT_FALSE(other.ok) << name;
    EXPECT_EQ(other.ErrorText(), "Unsupported builtin function") << name;
  }
}

}  // namespace
}  // namespace Kavren
