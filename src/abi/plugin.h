// The plugin's API as the host walks it: the request entry and the description records
// that the API block points to (endpoints, functions, types, fields, events).
//
// The host walks these records to learn the plugin's API and finds, in each endpoint
// descriptor, the request entry to call and the registration to pass back. Every record
// is packed; in each array the first word of a record points to the next record (0 in
// the last one). Texts are zero-terminated and never null. Every `kind`, `elementKind`,
// `returnKind` and `returnElementKind` word holds a TypeKind code (abi/type_kind.h). On i386
// pointers are 4 bytes and the static_asserts pin the sizes; on x64 pointers take 8 bytes in the
// same order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "abi/host.h"
#include "abi/http.h"
#include "abi/type_kind.h"

namespace Kavren::Abi {

/// [any host thread] The request entry of every endpoint: fills `response` (whose
/// release the host calls afterwards) for `request`, whose `endpoint` is the descriptor's
/// registration. Never throws; its failures are in the response.
using ApiRequestEntry = void(HXA_CDECL*)(HttpResponseRecord* response,
                                         const HttpRequestRecord* request);

#pragma pack(push, 1)

// ApiEndpointRegistration (8 bytes): what a request's `endpoint` points to.
//   0 router    the router that answers
//   4 function  the endpoint's function entry
struct ApiEndpointRegistration {
  void* router;
  const void* function;
};

// ApiArgumentRecord (25 bytes).
//   0 next  4 name  8 description  12 kind  16 elementKind  20 typeName  24 optional
struct ApiArgumentRecord {
  ApiArgumentRecord* next;
  const char* name;
  const char* description;
  std::uint32_t kind;
  std::uint32_t elementKind;
  const char* typeName;
  std::uint8_t optional;
};

// ApiFunctionBody (57 bytes): offsets 4 to 60 of a function record, copied as they are
// into the endpoint descriptor of the function's endpoint.
//   4 reserved (0)  8 registration (0 in a function record)  12 name  16 nameSpace
//  20 arguments  24 argumentCount  28 returnKind  32 returnElementKind  36 returnTypeName
//  40 description  44 help  48 threadSafe  49 asyncResultType  53 tags  57 tagCount
struct ApiFunctionBody {
  HostWord reserved;
  ApiEndpointRegistration* registration;
  const char* name;
  const char* nameSpace;
  ApiArgumentRecord* arguments;
  std::uint32_t argumentCount;
  std::uint32_t returnKind;
  std::uint32_t returnElementKind;
  const char* returnTypeName;
  const char* description;
  const char* help;
  std::uint8_t threadSafe;
  /// "" when the function is not asynchronous.
  const char* asyncResultType;
  const char* const* tags;
  std::uint32_t tagCount;
};

// ApiFunctionRecord (61 bytes): 0 next, then the body at 4.
struct ApiFunctionRecord {
  ApiFunctionRecord* next;
  ApiFunctionBody body;
};

// ApiFieldRecord (29 bytes).
//   0 next  4 name  8 description  12 offset  16 kind  20 elementKind  24 typeName
//  28 optional
struct ApiFieldRecord {
  ApiFieldRecord* next;
  const char* name;
  const char* description;
  std::uint32_t offset;
  std::uint32_t kind;
  std::uint32_t elementKind;
  const char* typeName;
  std::uint8_t optional;
};

// ApiEnumValueRecord (16 bytes).
//   0 next  4 name  8 description  12 value
struct ApiEnumValueRecord {
  ApiEnumValueRecord* next;
  const char* name;
  const char* description;
  std::int32_t value;
};

// ApiTypeRecord (40 bytes).
//   0 next  4 name  8 nameSpace  12 size  16 description  20 tags  24 tagCount
//  28 fields (records only, else 0)  32 values (enumerations, else 0)  36 count
struct ApiTypeRecord {
  ApiTypeRecord* next;
  const char* name;
  const char* nameSpace;
  std::uint32_t size;
  const char* description;
  const char* const* tags;
  std::uint32_t tagCount;
  ApiFieldRecord* fields;
  ApiEnumValueRecord* values;
  /// The number of fields, or of values.
  std::uint32_t count;
};

// ApiEventRecord (28 bytes).
//   0 next  4 name  8 nameSpace  12 payloadTypeName  16 description  20 tags  24 tagCount
struct ApiEventRecord {
  ApiEventRecord* next;
  const char* name;
  const char* nameSpace;
  const char* payloadTypeName;
  const char* description;
  const char* const* tags;
  std::uint32_t tagCount;
};

// ApiLocationEntry (8 bytes): one per handler argument, in argument order.
//   0 next  4 location (1 to 5 kept, anything else 0)
struct ApiLocationEntry {
  ApiLocationEntry* next;
  std::int32_t location;
};

// ApiTextListEntry (12 bytes): one text list of the endpoint's handler registration.
//   0 next  4 texts  8 count
struct ApiTextListEntry {
  ApiTextListEntry* next;
  const char* const* texts;
  std::uint32_t count;
};

// ApiEndpointDescriptor (90 bytes).
//   0 next  4 function body (57 bytes, registration at 8)  61 requestEntry
//  65 locations  69 urlTemplate  73 method (1 to 8, else 0)  77 flag  78 textLists
//  82 textListCount  86 customMethod
struct ApiEndpointDescriptor {
  ApiEndpointDescriptor* next;
  ApiFunctionBody function;
  ApiRequestEntry requestEntry;
  ApiLocationEntry* locations;
  const char* urlTemplate;
  std::int32_t method;
  std::uint8_t flag;
  ApiTextListEntry* textLists;
  std::uint32_t textListCount;
  const char* customMethod;
};

#pragma pack(pop)

#if defined(__i386__)
static_assert(sizeof(ApiEndpointRegistration) == 8);
static_assert(offsetof(ApiEndpointRegistration, function) == 4);
static_assert(sizeof(ApiArgumentRecord) == 25);
static_assert(offsetof(ApiArgumentRecord, typeName) == 20);
static_assert(offsetof(ApiArgumentRecord, optional) == 24);
static_assert(sizeof(ApiFunctionBody) == 57);
static_assert(sizeof(ApiFunctionRecord) == 61);
static_assert(offsetof(ApiFunctionRecord, body) + offsetof(ApiFunctionBody, registration) == 8);
static_assert(offsetof(ApiFunctionRecord, body) + offsetof(ApiFunctionBody, name) == 12);
static_assert(offsetof(ApiFunctionRecord, body) + offsetof(ApiFunctionBody, arguments) == 20);
static_assert(offsetof(ApiFunctionRecord, body) + offsetof(ApiFunctionBody, returnKind) == 28);
static_assert(offsetof(ApiFunctionRecord, body) + offsetof(ApiFunctionBody, description) == 40);
static_assert(offsetof(ApiFunctionRecord, body) + offsetof(ApiFunctionBody, threadSafe) == 48);
static_assert(offsetof(ApiFunctionRecord, body) + offsetof(ApiFunctionBody, asyncResultType) == 49);
static_assert(offsetof(ApiFunctionRecord, body) + offsetof(ApiFunctionBody, tags) == 53);
static_assert(offsetof(ApiFunctionRecord, body) + offsetof(ApiFunctionBody, tagCount) == 57);
static_assert(sizeof(ApiFieldRecord) == 29);
static_assert(offsetof(ApiFieldRecord, offset) == 12);
static_assert(offsetof(ApiFieldRecord, optional) == 28);
static_assert(sizeof(ApiEnumValueRecord) == 16);
static_assert(sizeof(ApiTypeRecord) == 40);
static_assert(offsetof(ApiTypeRecord, size) == 12);
static_assert(offsetof(ApiTypeRecord, fields) == 28);
static_assert(offsetof(ApiTypeRecord, values) == 32);
static_assert(offsetof(ApiTypeRecord, count) == 36);
static_assert(sizeof(ApiEventRecord) == 28);
static_assert(offsetof(ApiEventRecord, payloadTypeName) == 12);
static_assert(sizeof(ApiLocationEntry) == 8);
static_assert(sizeof(ApiTextListEntry) == 12);
static_assert(sizeof(ApiEndpointDescriptor) == 90);
static_assert(offsetof(ApiEndpointDescriptor, function) == 4);
static_assert(offsetof(ApiEndpointDescriptor, requestEntry) == 61);
static_assert(offsetof(ApiEndpointDescriptor, locations) == 65);
static_assert(offsetof(ApiEndpointDescriptor, urlTemplate) == 69);
static_assert(offsetof(ApiEndpointDescriptor, method) == 73);
static_assert(offsetof(ApiEndpointDescriptor, flag) == 77);
static_assert(offsetof(ApiEndpointDescriptor, textLists) == 78);
static_assert(offsetof(ApiEndpointDescriptor, textListCount) == 82);
static_assert(offsetof(ApiEndpointDescriptor, customMethod) == 86);
#endif

}  // namespace Kavren::Abi
