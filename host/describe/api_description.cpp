// Reading the plugin's API block into host-side values.
#include "host/describe/api_description.h"

#include <iterator>
#include <set>

#include "abi/plugin.h"

namespace Kavren::Host {
namespace {

// The records are packed: every field is read by value, never bound to a reference.
std::string Text(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

ApiKind Kind(std::uint32_t code) {
  return code <= static_cast<std::uint32_t>(ApiKind::kMap) ? static_cast<ApiKind>(code)
                                                           : ApiKind::kNone;
}

ApiTypeReference Reference(std::uint32_t kind, std::uint32_t elementKind, const char* typeName) {
  return ApiTypeReference{Kind(kind), Kind(elementKind), Text(typeName)};
}

std::vector<std::string> Texts(const char* const* texts, std::uint32_t count) {
  std::vector<std::string> list;
  if (texts == nullptr) return list;
  list.reserve(count);
  for (std::uint32_t index = 0; index < count; ++index) list.push_back(Text(texts[index]));
  return list;
}

// Calls `visit` for each record of a linked list, at most `count` of them.
template <class Record, class Visit>
void Walk(const Record* first, std::uint32_t count, Visit visit) {
  std::uint32_t seen = 0;
  for (const Record* record = first; record != nullptr && seen < count;
       record = record->next, ++seen) {
    visit(*record);
  }
}

ApiEndpoint Endpoint(const Abi::ApiEndpointDescriptor& descriptor) {
  const Abi::ApiFunctionBody& body = descriptor.function;
  ApiEndpoint endpoint;
  endpoint.name = Text(body.name);
  endpoint.nameSpace = Text(body.nameSpace);
  Walk(body.arguments, body.argumentCount, [&](const Abi::ApiArgumentRecord& record) {
    endpoint.arguments.push_back(
        ApiArgument{Text(record.name), Text(record.description),
                    Reference(record.kind, record.elementKind, record.typeName),
                    record.optional != 0, kLocationAnywhere});
  });
  // One location entry per handler argument, in argument order.
  std::size_t index = 0;
  Walk(descriptor.locations, static_cast<std::uint32_t>(endpoint.arguments.size()),
       [&](const Abi::ApiLocationEntry& entry) {
         endpoint.arguments[index++].location = entry.location;
       });
  endpoint.returns = Reference(body.returnKind, body.returnElementKind, body.returnTypeName);
  endpoint.description = Text(body.description);
  endpoint.help = Text(body.help);
  endpoint.threadSafe = body.threadSafe != 0;
  endpoint.asyncResultType = Text(body.asyncResultType);
  endpoint.tags = Texts(body.tags, body.tagCount);
  endpoint.urlTemplate = Text(descriptor.urlTemplate);
  endpoint.method = descriptor.method;
  endpoint.customMethod = Text(descriptor.customMethod);
  return endpoint;
}

ApiType Type(const Abi::ApiTypeRecord& record) {
  ApiType type;
  type.name = Text(record.name);
  type.nameSpace = Text(record.nameSpace);
  type.size = record.size;
  type.description = Text(record.description);
  type.tags = Texts(record.tags, record.tagCount);
  type.isEnum = record.fields == nullptr && record.values != nullptr;
  Walk(record.fields, record.count, [&](const Abi::ApiFieldRecord& field) {
    type.fields.push_back(ApiField{Text(field.name), Text(field.description), field.offset,
                                   Reference(field.kind, field.elementKind, field.typeName),
                                   field.optional != 0});
  });
  if (record.fields == nullptr) {
    Walk(record.values, record.count, [&](const Abi::ApiEnumValueRecord& value) {
      type.values.push_back(ApiEnumValue{Text(value.name), Text(value.description), value.value});
    });
  }
  return type;
}

void CollectEnumNames(const ApiTypeReference& reference, std::set<std::string>& names) {
  if (reference.typeName.empty()) return;
  const bool element = reference.kind == ApiKind::kVector || reference.kind == ApiKind::kMap;
  if ((element ? reference.elementKind : reference.kind) == ApiKind::kEnum) {
    names.insert(reference.typeName);
  }
}

}  // namespace

const char* ApiKindName(ApiKind kind) { return Abi::TypeKindName(kind); }

ApiDescription ReadApiDescription(const Abi::PluginApiBlock* block) {
  ApiDescription api;
  if (block == nullptr) return api;
  const Abi::PluginApiBlock header = *block;
  Walk(header.descriptors, header.count, [&](const Abi::ApiEndpointDescriptor& descriptor) {
    api.endpoints.push_back(Endpoint(descriptor));
  });
  Walk(header.types, header.typeCount,
       [&](const Abi::ApiTypeRecord& record) { api.types.push_back(Type(record)); });
  Walk(header.events, header.eventCount, [&](const Abi::ApiEventRecord& record) {
    api.events.push_back(ApiEvent{Text(record.name), Text(record.nameSpace),
                                  Text(record.payloadTypeName), Text(record.description),
                                  Texts(record.tags, record.tagCount)});
  });

  // An enumeration without values looks like a record without fields; the references
  // to it tell which it is.
  std::set<std::string> enumNames;
  for (const ApiEndpoint& endpoint : api.endpoints) {
    for (const ApiArgument& argument : endpoint.arguments)
      CollectEnumNames(argument.type, enumNames);
    CollectEnumNames(endpoint.returns, enumNames);
  }
  for (const ApiType& type : api.types) {
    for (const ApiField& field : type.fields) CollectEnumNames(field.type, enumNames);
  }
  for (ApiType& type : api.types) {
    if (type.fields.empty() && type.values.empty() && enumNames.count(type.name) != 0) {
      type.isEnum = true;
    }
  }
  return api;
}

}  // namespace Kavren::Host
