// The OpenAPI document's shape for the argument locations, types and lists it maps.
#include "host/describe/openapi.h"

#include <gtest/gtest.h>
#include <rapidjson/pointer.h>

#include "host/describe/api_help.h"

namespace Kavren::Host {
namespace {

ApiTypeReference Ref(ApiKind kind, std::string typeName = "", ApiKind element = ApiKind::kNone) {
  return ApiTypeReference{kind, element, std::move(typeName)};
}

// One endpoint per argument location, over a record and an enumeration.
ApiDescription SampleApi() {
  ApiDescription api;
  ApiEndpoint search;
  search.name = "PostFilesByRest";
  search.method = 6;
  search.urlTemplate = "/files/{+rest}";
  search.tags = {"Plugins", "Plugin sample"};
  search.arguments = {
      {"filter", "what to find", Ref(ApiKind::kStruct, "Filter"), true, kLocationQuery},
      {"velkin-id", "", Ref(ApiKind::kUint64), false, kLocationHeader},
      {"document", "", Ref(ApiKind::kVector, "Filter", ApiKind::kStruct), false, kLocationBody},
      {"rest", "", Ref(ApiKind::kString), false, kLocationAnywhere},
      {"page", "", Ref(ApiKind::kInt16), true, kLocationAnywhere},
  };
  search.returns = Ref(ApiKind::kMap, "Mode", ApiKind::kEnum);
  ApiEndpoint any;
  any.name = "Anything";
  any.urlTemplate = "/any/{id}";
  any.tags = {"Plugins"};
  api.endpoints = {search, any};

  ApiType filter;
  filter.name = "Filter";
  filter.fields = {{"text", "searched text", 0, Ref(ApiKind::kString), false},
                   {"blob", "", 8, Ref(ApiKind::kBlob), false},
                   {"other", "", 12, Ref(ApiKind::kStruct, "Unregistered"), false},
                   {"extra", "free form", 16, Ref(ApiKind::kObject), true}};
  ApiType mode;
  mode.name = "Mode";
  mode.isEnum = true;
  mode.description = "How to search.";
  mode.values = {{"Exact", "", 2}, {"Fuzzy", "close enough", 1}};
  api.types = {filter, mode};
  api.events = {{"OnFound", "zclient", "Filter", "Fired when found.", {"search"}}};
  return api;
}

std::string At(const rapidjson::Document& document, const char* pointer) {
  const rapidjson::Value* value = rapidjson::Pointer(pointer).Get(document);
  return value != nullptr ? JsonText(*value, false) : "(missing)";
}

TEST(OpenApi, MapsLocationsTypesAndListsOfTheApi) {
  rapidjson::Document document;
  BuildOpenApi(SampleApi(), OpenApiInfo{"sample", "18.0.0"}, document);

  const struct {
    const char* pointer;
    const char* json;
  } kExpected[] = {
      {"/openapi", R"("3.1.0")"},
      {"/info/version", R"("18.0.0")"},
      {"/tags", R"([{"name":"Plugins"},{"name":"Plugin sample"}])"},
      // A reserved placeholder is a plain path parameter; structured query values are JSON.
      {"/paths/~1files~1{rest}/post/operationId", R"("PostFilesByRest")"},
      {"/paths/~1files~1{rest}/post/parameters",
       R"([{"name":"filter","in":"query","description":"what to find","required":false,)"
       R"("content":{"application/json":{"schema":{"$ref":"#/components/schemas/Filter.Input"}}}},)"
       R"({"name":"velkin-id","in":"header","required":true,)"
       R"("schema":{"type":"integer","format":"uint64","minimum":0}},)"
       R"({"name":"rest","in":"path","required":true,"schema":{"type":"string"}},)"
       R"({"name":"page","in":"query","required":false,"schema":{"type":"integer",)"
       R"("format":"int16","minimum":-32768,"maximum":32767}}])"},
      {"/paths/~1files~1{rest}/post/requestBody/content/application~1json/schema",
       R"({"type":"array","items":{"$ref":"#/components/schemas/Filter.Input"}})"},
      {"/paths/~1files~1{rest}/post/requestBody/required", "true"},
      {"/paths/~1files~1{rest}/post/responses/200/content/application~1json/schema",
       R"({"type":"object","additionalProperties":{"$ref":"#/components/schemas/Mode"}})"},
      // Every method: documented as POST; an unbound placeholder is still declared.
      {"/paths/~1any~1{id}/post/description", R"("Accepts every method.")"},
      {"/paths/~1any~1{id}/post/parameters",
       R"([{"name":"id","in":"path","required":true,"schema":{"type":"string"}}])"},
      {"/paths/~1any~1{id}/post/responses",
       R"({"204":{"description":"Done; no content"},)"
       R"("400":{"$ref":"#/components/responses/BadRequest"},)"
       R"("default":{"$ref":"#/components/responses/Failure"}})"},
      {"/components/schemas/Filter/properties",
       R"({"text":{"type":"string","description":"searched text"},)"
       R"("blob":{"type":"string","contentEncoding":"base64"},"other":{"type":"object"},)"
       R"("extra":{"description":"free form"}})"},
      // Replies carry every field that is not optional; requests may leave any out.
      {"/components/schemas/Filter/required", R"(["text","blob","other"])"},
      {"/components/schemas/Filter.Input/required", "(missing)"},
      {"/components/schemas/Filter.Input/properties/text",
       R"({"type":"string","description":"searched text"})"},
      {"/components/schemas/Mode/enum", R"(["Fuzzy","Exact"])"},
      {"/components/schemas/Mode/description",
       R"("How to search.\n\n- `Fuzzy` (1): close enough\n- `Exact` (2)\n")"},
      {"/x-events", R"([{"name":"OnFound","nameSpace":"zclient","description":"Fired when found.",)"
                    R"("payload":{"$ref":"#/components/schemas/Filter"},"tags":["search"]}])"},
  };
  for (const auto& expected : kExpected) {
    EXPECT_EQ(At(document, expected.pointer), expected.json) << expected.pointer;
  }
}

TEST(OpenApi, ARecordWithoutAnApiBlockGivesADocumentWithoutOperations) {
  Abi::PluginHostRecord record{};
  record.major = 18;
  rapidjson::Document document;
  document.Parse(OpenApiDocument(record).c_str());
  EXPECT_EQ(At(document, "/paths"), "{}");
  EXPECT_EQ(At(document, "/info/title"), R"("Plugin API")");
}

}  // namespace
}  // namespace Kavren::Host
