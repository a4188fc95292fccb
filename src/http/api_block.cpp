// The API block's export tables: the registry and the endpoint registrations as records.
#include "http/api_block.h"

#include <cstring>

#include "binding/registry.h"
#include "http/router.h"

namespace Kavren {
namespace {

const char kEmptyText[] = "";

std::uint32_t KindCode(TypeKind kind) {
  const auto code = static_cast<std::uint32_t>(kind);
  return code <= 19 ? code : 0;
}

// Appends `record` to `table` (reserved beforehand, so nothing moves) and links it after
// the previous record of the same list.
template <class Record>
Record* Append(std::vector<Record>& table, const Record& record, Record*& previous) {
  table.push_back(record);
  Record* added = &table.back();
  added->next = nullptr;
  if (previous != nullptr) previous->next = added;
  previous = added;
  return added;
}

}  // namespace

const char* ApiExportTables::Text(std::string_view text) {
  if (text.empty()) return kEmptyText;
  return texts_.emplace_back(text).c_str();
}

const char* ApiExportTables::TypeName(const TypeRef& type) {
  const bool named = type.kind == TypeKind::kVector || type.kind == TypeKind::kEnum ||
                     type.kind == TypeKind::kStruct || type.kind == TypeKind::kMap;
  return named && type.descriptor != nullptr ? Text(type.descriptor->name) : kEmptyText;
}

const char* const* ApiExportTables::TextArray(const std::vector<std::string>& texts) {
  if (texts.empty()) return nullptr;
  std::vector<const char*>& array = textArrays_.emplace_back();
  array.reserve(texts.size());
  for (const std::string& text : texts) array.push_back(Text(text));
  return array.data();
}

Abi::ApiFunctionBody ApiExportTables::DescribeFunction(const FunctionRecord& function) {
  Abi::ApiFunctionBody body{};
  body.name = Text(function.name);
  body.nameSpace = Text(function.nameSpace);
  Abi::ApiArgumentRecord* previous = nullptr;
  for (const FunctionArgument& argument : function.arguments) {
    Abi::ApiArgumentRecord record{};
    record.name = Text(argument.name);
    record.description = Text(argument.description);
    record.kind = KindCode(argument.type.kind);
    record.elementKind = KindCode(argument.type.elementKind);
    record.typeName = TypeName(argument.type);
    record.optional = argument.optional ? 1 : 0;
    Abi::ApiArgumentRecord* added = Append(arguments_, record, previous);
    if (body.arguments == nullptr) body.arguments = added;
  }
  body.argumentCount = static_cast<std::uint32_t>(function.arguments.size());
  body.returnKind = KindCode(function.returnType.kind);
  body.returnElementKind = KindCode(function.returnType.elementKind);
  body.returnTypeName = TypeName(function.returnType);
  body.description = Text(function.description);
  body.help = Text(function.help);
  body.threadSafe = function.threadSafe ? 1 : 0;
  body.asyncResultType = function.async ? TypeName(function.returnType) : kEmptyText;
  body.tags = TextArray(function.tags);
  body.tagCount = static_cast<std::uint32_t>(function.tags.size());
  return body;
}

void ApiExportTables::Clear() {
  descriptors_.clear();
  functions_.clear();
  arguments_.clear();
  types_.clear();
  fields_.clear();
  values_.clear();
  events_.clear();
  locations_.clear();
  textLists_.clear();
  textArrays_.clear();
  texts_.clear();
}

Abi::PluginApiBlock ApiExportTables::Build(
    const BindingRegistry& registry, const std::map<std::string, EndpointFunction*>& endpoints,
    void* router, Abi::ApiRequestEntry entry) {
  Clear();
  const auto functions = registry.FunctionsSnapshot();
  const auto types = registry.TypesSnapshot();
  const auto events = registry.EventsSnapshot();

  // Every table gets its final size first: records link to each other by address.
  std::size_t argumentCount = 0;
  for (const auto& [name, function] : functions) argumentCount += function->arguments.size();
  std::size_t locationCount = 0;
  std::size_t textListCount = 0;
  for (const auto& [name, endpoint] : endpoints) {
    locationCount += endpoint->arguments.size();
    textListCount += endpoint->textLists.size();
  }
  // An endpoint missing from the snapshot is described on its own.
  argumentCount += locationCount;
  std::size_t fieldCount = 0;
  std::size_t valueCount = 0;
  for (const auto& [name, type] : types) {
    fieldCount += type->fields.size();
    valueCount += type->values.size();
  }
  functions_.reserve(functions.size());
  arguments_.reserve(argumentCount);
  types_.reserve(types.size());
  fields_.reserve(fieldCount);
  values_.reserve(valueCount);
  events_.reserve(events.size());
  locations_.reserve(locationCount);
  textLists_.reserve(textListCount);

  std::map<std::string_view, const Abi::ApiFunctionRecord*> functionsByName;
  Abi::ApiFunctionRecord* previousFunction = nullptr;
  for (const auto& [name, function] : functions) {
    Abi::ApiFunctionRecord record{};
    record.body = DescribeFunction(*function);
    const Abi::ApiFunctionRecord* added = Append(functions_, record, previousFunction);
    const char* addedName = added->body.name;  // packed: read by value
    functionsByName.emplace(addedName, added);
  }

  Abi::ApiTypeRecord* previousType = nullptr;
  for (const auto& [name, type] : types) {
    Abi::ApiTypeRecord record{};
    record.name = Text(type->name);
    record.nameSpace = Text(type->nameSpace);
    record.size = type->size;
    record.description = Text(type->description);
    record.tags = TextArray(type->tags);
    record.tagCount = static_cast<std::uint32_t>(type->tags.size());
    if (!type->fields.empty()) {
      Abi::ApiFieldRecord* previous = nullptr;
      for (const FieldDescriptor& field : type->fields) {
        Abi::ApiFieldRecord fieldRecord{};
        fieldRecord.name = Text(field.name);
        fieldRecord.description = Text(field.description);
        fieldRecord.offset = field.offset;
        fieldRecord.kind = KindCode(field.type.kind);
        fieldRecord.elementKind = KindCode(field.type.elementKind);
        fieldRecord.typeName = TypeName(field.type);
        fieldRecord.optional = field.optional ? 1 : 0;
        Abi::ApiFieldRecord* added = Append(fields_, fieldRecord, previous);
        if (record.fields == nullptr) record.fields = added;
      }
      record.count = static_cast<std::uint32_t>(type->fields.size());
    } else {
      Abi::ApiEnumValueRecord* previous = nullptr;
      for (const auto& [valueName, value] : type->values) {
        Abi::ApiEnumValueRecord valueRecord{};
        valueRecord.name = Text(value.name);
        valueRecord.description = Text(value.description);
        valueRecord.value = value.value;
        Abi::ApiEnumValueRecord* added = Append(values_, valueRecord, previous);
        if (record.values == nullptr) record.values = added;
      }
      record.count = static_cast<std::uint32_t>(type->values.size());
    }
    Append(types_, record, previousType);
  }

  Abi::ApiEventRecord* previousEvent = nullptr;
  for (const auto& [name, event] : events) {
    Abi::ApiEventRecord record{};
    record.name = Text(event->name);
    record.nameSpace = Text(event->nameSpace);
    record.payloadTypeName = event->payload != nullptr ? Text(event->payload->name) : kEmptyText;
    record.description = Text(event->description);
    record.tags = TextArray(event->tags);
    record.tagCount = static_cast<std::uint32_t>(event->tags.size());
    Append(events_, record, previousEvent);
  }

  descriptors_.resize(endpoints.size());
  std::size_t index = 0;
  for (const auto& [name, endpoint] : endpoints) {
    Abi::ApiEndpointDescriptor& descriptor = descriptors_[index];
    descriptor = Abi::ApiEndpointDescriptor{};
    const auto found = functionsByName.find(name);
    descriptor.function =
        found != functionsByName.end() ? found->second->body : DescribeFunction(*endpoint);

    Abi::ApiLocationEntry* previousLocation = nullptr;
    for (const FunctionArgument& argument : endpoint->arguments) {
      const std::int32_t code =
          argument.location >= 1 && argument.location <= 5 ? argument.location : 0;
      Abi::ApiLocationEntry* added =
          Append(locations_, Abi::ApiLocationEntry{nullptr, code}, previousLocation);
      if (descriptor.locations == nullptr) descriptor.locations = added;
    }
    descriptor.urlTemplate = Text(endpoint->urlTemplate);
    descriptor.method = endpoint->method >= 1 && endpoint->method <= 8 ? endpoint->method : 0;
    descriptor.flag = endpoint->flag;
    Abi::ApiTextListEntry* previousList = nullptr;
    for (const std::vector<std::string>& list : endpoint->textLists) {
      Abi::ApiTextListEntry listEntry{nullptr, TextArray(list),
                                      static_cast<std::uint32_t>(list.size())};
      Abi::ApiTextListEntry* added = Append(textLists_, listEntry, previousList);
      if (descriptor.textLists == nullptr) descriptor.textLists = added;
    }
    descriptor.textListCount = static_cast<std::uint32_t>(endpoint->textLists.size());
    descriptor.customMethod = Text(endpoint->customMethod);

    auto registration = registrations_.find(name);
    if (registration == registrations_.end()) {
      registration =
          registrations_.emplace(name, std::make_unique<Abi::ApiEndpointRegistration>()).first;
    }
    registration->second->router = router;
    registration->second->function = endpoint;
    descriptor.function.registration = registration->second.get();
    descriptor.requestEntry = entry;
    if (index > 0) descriptors_[index - 1].next = &descriptor;
    ++index;
  }

  Abi::PluginApiBlock block{};
  block.descriptors = descriptors_.empty() ? nullptr : descriptors_.data();
  block.count = static_cast<std::uint32_t>(descriptors_.size());
  block.types = types_.empty() ? nullptr : &types_.front();
  block.typeCount = static_cast<std::uint32_t>(types_.size());
  block.events = events_.empty() ? nullptr : &events_.front();
  block.eventCount = static_cast<std::uint32_t>(events_.size());
  return block;
}

}  // namespace Kavren
