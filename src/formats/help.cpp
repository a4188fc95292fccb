// The API help provider: native help records, their registration and DescribeApi.
#include "formats/help.h"

#include <algorithm>
#include <vector>

#include "binding/convert.h"
#include "formats/help_epytext.h"
#include "formats/help_messages.h"

namespace Kavren {

namespace {

using Provider = BindingHelpProvider;

// Copies the table's entries (nulls dropped) and orders them by their own name, byte-wise.
template <class Entry>
std::vector<const Entry*> SortedByName(const BindingRegistry::NameTable<Entry>& table) {
  std::vector<const Entry*> entries;
  entries.reserve(table.size());
  for (const auto& [key, entry] : table) {
    if (entry != nullptr) entries.push_back(entry);
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry* left, const Entry* right) { return left->name < right->name; });
  return entries;
}

// One member of the output: a help record per item ("Full") or a text per item
// ("Epytext"). The member is taken (added if absent) before anything else, so a list
// without items leaves it empty.
template <class Entry, class MakeHelp, class MakeText>
void DescribeList(BindingProperty& out, const char* member,
                  const BindingRegistry::NameTable<Entry>& table, Provider::HelpFormat format,
                  const BindingRegistry& registry, MakeHelp makeHelp, MakeText makeText) {
  BindingProperty& list = out.Member(member);
  const std::vector<const Entry*> entries = SortedByName(table);
  for (const Entry* entry : entries) {
    switch (format) {
      case Provider::HelpFormat::kFull: {
        BindingProperty& element = list.Append();
        // A help record type that is not registered leaves the element empty.
        MaybeType<Failure, BindingProperty> converted = ToValue(makeHelp(*entry), registry);
        if (converted) element.MoveFrom(converted.Value());
        break;
      }
      case Provider::HelpFormat::kEpytext:
        list.Member(entry->name).SetString(makeText(*entry));
        break;
      default:
        return;
    }
  }
}

}  // namespace

Provider::FullTypeIdentifier Provider::TypeIdentifier(const TypeRef& type) {
  return FullTypeIdentifier{TypeRefText(type), TypeRefElementText(type)};
}

Provider::FullFunctionHelp Provider::FunctionHelp(const FunctionRecord& function) {
  FullFunctionHelp help;
  help.name = function.name;
  help.nameSpace = function.nameSpace;
  help.arguments.reserve(function.arguments.size());
  for (const FunctionArgument& argument : function.arguments) {
    help.arguments.push_back(FullArgumentHelp{argument.name, argument.description,
                                              TypeIdentifier(argument.type), argument.optional});
  }
  help.returns = TypeIdentifier(function.returnType);
  help.description = function.description;
  help.help = function.help;
  help.threadSafe = function.threadSafe;
  if (function.async) {
    // An asynchronous function must not read as synchronous (an empty text) when its
    // return type has no descriptor: its type text stands in for the name.
    help.async = function.returnType.descriptor != nullptr ? function.returnType.descriptor->name
                                                           : TypeRefText(function.returnType);
  }
  help.tags = function.tags;
  return help;
}

Provider::FullTypeHelp Provider::TypeHelp(const TypeDescriptor& type) {
  FullTypeHelp help;
  help.name = type.name;
  help.nameSpace = type.nameSpace;
  help.size = type.size;
  help.description = type.description;
  help.tags = type.tags;
  if (type.isEnum) {
    help.values.reserve(type.values.size());
    for (const auto& [name, enumerator] : type.values) {
      help.values.push_back(
          FullEnumValueHelp{enumerator.name, enumerator.description, enumerator.value});
    }
  } else {
    help.fields.reserve(type.fields.size());
    for (const FieldDescriptor& field : type.fields) {
      help.fields.push_back(FullFieldHelp{field.name, field.description, field.offset,
                                          TypeIdentifier(field.type), field.optional});
    }
  }
  return help;
}

Provider::FullEventHelp Provider::EventHelp(const EventRecord& event) {
  FullEventHelp help;
  help.name = event.name;
  help.nameSpace = event.nameSpace;
  if (event.payload != nullptr) {
    help.type = TypeIdentifier(TypeRef{event.payload->isEnum ? TypeKind::kEnum : TypeKind::kStruct,
                                       TypeKind::kNone, event.payload});
  }
  help.description = event.description;
  help.tags = event.tags;
  return help;
}

void Provider::DescribeApi(BindingProperty& out,
                           const BindingRegistry::NameTable<FunctionRecord>& functions,
                           const BindingRegistry::NameTable<TypeDescriptor>& types,
                           const BindingRegistry::NameTable<EventRecord>& events, HelpFormat format,
                           const BindingRegistry& registry) {
  DescribeList(out, "functions", functions, format, registry, &FunctionHelp, &EpytextFunctionText);
  DescribeList(out, "types", types, format, registry, &TypeHelp, &EpytextTypeHelpText);
  DescribeList(out, "events", events, format, registry, &EventHelp, &EpytextEventText);
}

BindingResult Provider::DescribeRegistry(const BindingRegistry& registry) {
  BindingResult result;
  DescribeApi(result.value, registry.FunctionsSnapshot(), registry.TypesSnapshot(),
              registry.EventsSnapshot(), HelpFormat::kFull, registry);
  return result;
}

void RegisterHelpTypes(BindingRegistry& registry) {
  const std::initializer_list<const char*> kTags = {"$builtin", "help"};

  registry.RegisterEnum<Provider::HelpFormat>("BindingHelpFormat")
      .AddValue("Full", static_cast<std::int32_t>(Provider::HelpFormat::kFull),
                "Native help format")
      .AddValue("Epytext", static_cast<std::int32_t>(Provider::HelpFormat::kEpytext),
                "Python epytext format")
      .SetDescription("Help format for binding functions and types.")
      .AddTags(kTags);

  using Identifier = Provider::FullTypeIdentifier;
  registry.RegisterStruct<Identifier>("BindingFullTypeIdentifier")
      .AddField("type", &Identifier::type)
      .AddField("elementType", &Identifier::elementType)
      .SetDescription("Describes the type of a value.")
      .AddTags(kTags);

  using Argument = Provider::FullArgumentHelp;
  registry.RegisterStruct<Argument>("BindingFullArgumentHelp")
      .AddField("name", &Argument::name)
      .AddField("description", &Argument::description)
      .AddField("type", &Argument::type)
      .AddField("optional", &Argument::optional)
      .SetDescription("Describes a function parameter.")
      .AddTags(kTags);

  using Function = Provider::FullFunctionHelp;
  registry.RegisterStruct<Function>("BindingFullFunctionHelp")
      .AddField("name", &Function::name)
      .AddField("nameSpace", &Function::nameSpace)
      .AddField("arguments", &Function::arguments)
      .AddField("returns", &Function::returns)
      .AddField("description", &Function::description)
      .AddField("help", &Function::help)
      .AddField("threadSafe", &Function::threadSafe)
      .AddField("async", &Function::async)
      .AddField("tags", &Function::tags)
      .SetDescription("Describes a function.")
      .AddTags(kTags);

  using EnumValue = Provider::FullEnumValueHelp;
  registry.RegisterStruct<EnumValue>("BindingFullEnumValueHelp")
      .AddField("name", &EnumValue::name)
      .AddField("description", &EnumValue::description)
      .AddField("value", &EnumValue::value)
      .SetDescription("Describes an enumerator.")
      .AddTags(kTags);

  using Field = Provider::FullFieldHelp;
  registry.RegisterStruct<Field>("BindingFullFieldHelp")
      .AddField("name", &Field::name)
      .AddField("description", &Field::description)
      .AddField("offset", &Field::offset)
      .AddField("type", &Field::type)
      .AddField("optional", &Field::optional)
      .SetDescription("Describes a member of a struct.")
      .AddTags(kTags);

  using Type = Provider::FullTypeHelp;
  registry.RegisterStruct<Type>("BindingFullTypeHelp")
      .AddField("name", &Type::name)
      .AddField("nameSpace", &Type::nameSpace)
      .AddField("size", &Type::size)
      .AddField("description", &Type::description)
      .AddField("tags", &Type::tags)
      .AddField("fields", &Type::fields)
      .AddField("values", &Type::values)
      .SetDescription("Describes a struct or enum type.")
      .AddTags(kTags);

  using Event = Provider::FullEventHelp;
  registry.RegisterStruct<Event>("BindingFullEventHelp")
      .AddField("name", &Event::name)
      .AddField("nameSpace", &Event::nameSpace)
      .AddField("type", &Event::type)
      .AddField("description", &Event::description)
      .AddField("tags", &Event::tags)
      .SetDescription("Describes an event.")
      .AddTags(kTags);

  using Api = Provider::FullApiHelp;
  registry.RegisterStruct<Api>("BindingFullApiHelp")
      .AddField("functions", &Api::functions)
      .AddField("types", &Api::types)
      .AddField("events", &Api::events)
      .SetDescription("Describes the exposed native API.")
      .AddTags(kTags);
}

BindingResult CallBuiltinFunction(std::string_view name, const BindingRegistry& registry) {
  if (name == HelpMessages::kBuiltinHelpFunction) {
    return BindingHelpProvider::DescribeRegistry(registry);
  }
  BindingResult result;
  result.Fail(HelpMessages::kUnsupportedBuiltin);
  return result;
}

}  // namespace Kavren
