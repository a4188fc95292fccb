// Copying an API block, generating values from its descriptions and checking values
// against them.
#include "host/validate/types.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "abi/plugin.h"
#include "host/core/document.h"

namespace Kavren::Host {
namespace {

constexpr int kMaxDepth = 6;
// The longest chain the copy follows: a longer one is taken for a cycle.
constexpr std::uint32_t kMaxRecords = 100000;

std::string Lower(const std::string& text) {
  std::string lowered;
  for (char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
      lowered += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return lowered;
}

std::string ShortName(const std::string& name) {
  const std::size_t colon = name.rfind(':');
  return colon == std::string::npos ? name : name.substr(colon + 1);
}

// "OnX_a_b_c" gives "/a/b/c": the path a resource event of that name is about.
std::string PathOfEventName(const std::string& eventName) {
  const std::size_t underscore = eventName.find('_');
  if (underscore == std::string::npos) return "";
  // Appended rather than "/" + substr: GCC 12's release build warns (falsely) on the latter.
  std::string path = "/";
  path.append(eventName, underscore + 1);
  std::replace(path.begin(), path.end(), '_', '/');
  return path;
}

// "OnX_a_b_C" gives "a.b.C": a class name that event may be named after.
std::string DottedOfEventName(const std::string& eventName) {
  const std::size_t underscore = eventName.find('_');
  if (underscore == std::string::npos) return "";
  std::string dotted = eventName.substr(underscore + 1);
  std::replace(dotted.begin(), dotted.end(), '_', '.');
  return dotted;
}

bool IsInteger(ApiKind kind) { return kind >= ApiKind::kInt8 && kind <= ApiKind::kUint64; }

// Whether `path` fits `pattern` segment by segment: "{name}" stands for one segment that is
// not empty, "{+name}" for the rest of the path.
bool TemplateMatches(const std::string& pattern, const std::string& path) {
  std::size_t at = 0;
  std::size_t in = 0;
  while (at < pattern.size() && in <= path.size()) {
    const std::size_t patternEnd = std::min(pattern.find('/', at), pattern.size());
    const std::size_t pathEnd = std::min(path.find('/', in), path.size());
    const std::string_view segment(pattern.data() + at, patternEnd - at);
    if (segment.starts_with("{+")) return in < path.size();
    const bool capture = segment.size() > 2 && segment.front() == '{' && segment.back() == '}';
    if (capture ? pathEnd == in : segment != std::string_view(path.data() + in, pathEnd - in)) {
      return false;
    }
    if (patternEnd == pattern.size()) return pathEnd == path.size();
    at = patternEnd + 1;
    in = pathEnd + 1;
  }
  return false;
}

// The range of an integer kind as doubles (exact enough for generating edges).
void IntegerRange(ApiKind kind, double& low, double& high) {
  switch (kind) {
    case ApiKind::kInt8:
      low = -128;
      high = 127;
      break;
    case ApiKind::kUint8:
      low = 0;
      high = 255;
      break;
    case ApiKind::kInt16:
      low = -32768;
      high = 32767;
      break;
    case ApiKind::kUint16:
      low = 0;
      high = 65535;
      break;
    case ApiKind::kInt32:
      low = -2147483648.0;
      high = 2147483647.0;
      break;
    case ApiKind::kUint32:
      low = 0;
      high = 4294967295.0;
      break;
    case ApiKind::kInt64:
      low = -9.2e18;
      high = 9.2e18;
      break;
    default:
      low = 0;
      high = 1.8e19;
      break;
  }
}

// One of the malformed values a broken member may be: a text, an array, an empty object
// or null, whatever its type.
void SetMalformed(Random& random, rapidjson::Value& out,
                  rapidjson::Document::AllocatorType& allocator) {
  switch (random() % 4) {
    case 0:
      out.SetString("not a value", allocator);
      return;
    case 1:
      out.SetArray();
      out.PushBack(1, allocator);
      return;
    case 2:
      out.SetObject();
      return;
    default:
      out.SetNull();
      return;
  }
}

// A number of the integer `kind`: small, an edge of its range or any; far outside the
// range when `broken`.
void SetInteger(ApiKind kind, bool broken, Random& random, rapidjson::Value& out) {
  double low = 0;
  double high = 0;
  IntegerRange(kind, low, high);
  if (broken) {
    out.SetDouble(random() % 2 == 0 ? high * 4 + 1 : -high * 4 - 1);
  } else if (random() % 2 == 0) {
    out.SetInt64(static_cast<std::int64_t>(random() % 9));
  } else if (random() % 2 == 0) {
    out.SetDouble(random() % 2 == 0 ? high : low);
  } else {
    out.SetInt64(static_cast<std::int64_t>(random() % 100000) - (low < 0 ? 50000 : 0));
  }
}

// A value of the enum `described` (null: undescribed), by name or by number; a name it
// does not have when `broken`.
void SetEnum(const ApiType* described, bool broken, Random& random, rapidjson::Value& out,
             rapidjson::Document::AllocatorType& allocator) {
  if (broken || described == nullptr || described->values.empty()) {
    out.SetString("NoSuchValue", allocator);
    return;
  }
  const ApiEnumValue& value = described->values[random() % described->values.size()];
  if (random() % 2 == 0) {
    out.SetString(value.name.c_str(), allocator);
  } else {
    out.SetInt(value.value);
  }
}

}  // namespace

const char* VariantName(ValueVariant variant) {
  switch (variant) {
    case ValueVariant::kValid:
      return "valid";
    case ValueVariant::kMalformed:
      return "malformed";
    case ValueVariant::kOutOfRange:
      return "out-of-range";
    case ValueVariant::kUnbindable:
      return "unbindable";
  }
  return "valid";
}

std::optional<ValueVariant> ParseVariant(const std::string& name) {
  if (name == "valid") return ValueVariant::kValid;
  if (name == "malformed") return ValueVariant::kMalformed;
  if (name == "out-of-range") return ValueVariant::kOutOfRange;
  if (name == "unbindable") return ValueVariant::kUnbindable;
  return std::nullopt;
}

std::optional<ApiModel> ApiModel::FromBlock(const Abi::PluginApiBlock* block,
                                            std::string& problem) {
  if (block == nullptr) {
    problem = "the host record has no API block";
    return std::nullopt;
  }
  // What the copy reads leniently, a host cannot use: checked on the records themselves.
  const Abi::ApiEndpointDescriptor* descriptor = block->descriptors;
  for (std::uint32_t index = 0; index < block->count; ++index) {
    if (descriptor == nullptr || index > kMaxRecords) {
      problem = "the endpoint descriptors end before their count " + std::to_string(block->count);
      return std::nullopt;
    }
    const std::int32_t method = descriptor->method;
    if (descriptor->function.name == nullptr || descriptor->urlTemplate == nullptr) {
      problem = "endpoint descriptor " + std::to_string(index) + " has a null text";
      return std::nullopt;
    }
    const std::string name = descriptor->function.name;
    if (method < 0 || method > 8) {
      problem = "endpoint " + name + " has method code " + std::to_string(method);
      return std::nullopt;
    }
    if (descriptor->requestEntry == nullptr || descriptor->function.registration == nullptr) {
      problem = "endpoint " + name + " has no request entry or registration";
      return std::nullopt;
    }
    descriptor = descriptor->next;
  }
  const auto chainShort = [](const auto* record, std::uint32_t count) {
    for (std::uint32_t index = 0; index < count; ++index) {
      if (record == nullptr || index > kMaxRecords) return true;
      record = record->next;
    }
    return false;
  };
  if (chainShort(block->types, block->typeCount) || chainShort(block->events, block->eventCount)) {
    problem = "the type or event records end before their count";
    return std::nullopt;
  }
  ApiModel model;
  model.description_ = ReadApiDescription(block);
  for (std::size_t index = 0; index < model.description_.types.size(); ++index) {
    const ApiType& type = model.description_.types[index];
    model.types_.emplace(type.name, index);
    model.typeNames_.push_back(type.name);
    model.texts_.push_back(type.name);
    for (const ApiEnumValue& value : type.values) model.texts_.push_back(value.name);
  }
  for (const ApiEndpoint& endpoint : model.description_.endpoints) {
    model.texts_.push_back(endpoint.urlTemplate);
  }
  model.texts_.insert(model.texts_.end(), {"", "x", "{}", "[]", "null", "0", "-1",
                                           "\xc3\xa9t\xc3\xa9", std::string(300, 'a')});
  return model;
}

const ApiEndpoint* ApiModel::FindEndpoint(const std::string& functionName) const {
  for (const ApiEndpoint& endpoint : description_.endpoints) {
    if (endpoint.name == functionName) return &endpoint;
  }
  return nullptr;
}

const ApiEndpoint* ApiModel::FindGet(const std::string& path) const {
  for (const ApiEndpoint& endpoint : description_.endpoints) {
    if (endpoint.method == Abi::kHttpMethodGet && endpoint.urlTemplate == path) return &endpoint;
  }
  for (const ApiEndpoint& endpoint : description_.endpoints) {
    if (endpoint.method == Abi::kHttpMethodGet && TemplateMatches(endpoint.urlTemplate, path)) {
      return &endpoint;
    }
  }
  return nullptr;
}

const ApiType* ApiModel::FindType(const std::string& name) const {
  const auto found = types_.find(name);
  if (found != types_.end()) return &description_.types[found->second];
  // Payload type names may carry a name space the type record lists apart.
  for (const ApiType& type : description_.types) {
    if (ShortName(type.name) == ShortName(name)) return &type;
  }
  return nullptr;
}

const ApiEvent* ApiModel::EventFor(const std::string& eventName) const {
  const ApiEvent* best = nullptr;
  for (const ApiEvent& event : description_.events) {
    const bool fits = eventName == event.name ||
                      (eventName.starts_with(event.name) && eventName[event.name.size()] == '_');
    if (fits && (best == nullptr || event.name.size() > best->name.size())) best = &event;
  }
  return best;
}

void ApiModel::AddTexts(const std::vector<std::string>& texts) {
  texts_.insert(texts_.end(), texts.begin(), texts.end());
}

std::string ApiModel::RandomText(Random& random, const std::string& context) const {
  // Now and then a text the context names: its path, or its dotted class name.
  const int roll = static_cast<int>(random() % 8);
  if (!context.empty() && roll == 0) return PathOfEventName(context);
  if (!context.empty() && roll == 1) return DottedOfEventName(context);
  if (texts_.empty()) return "x";
  return texts_[random() % texts_.size()];
}

void ApiModel::Generate(const ApiTypeReference& type, ValueVariant variant,
                        const std::string& context, Random& random, rapidjson::Value& out,
                        rapidjson::Document::AllocatorType& allocator, int depth) const {
  // A broken value now and then inside a broken whole: not every member at once.
  const bool broken = variant != ValueVariant::kValid && random() % 3 == 0;
  if (broken && variant == ValueVariant::kMalformed) {
    SetMalformed(random, out, allocator);
    return;
  }
  const ApiKind kind = type.kind;
  if (IsInteger(kind)) {
    SetInteger(kind, broken, random, out);
    return;
  }
  switch (kind) {
    case ApiKind::kBool:
      out.SetBool(random() % 2 == 0);
      return;
    case ApiKind::kFloat:
    case ApiKind::kDouble:
      out.SetDouble(broken ? 1e308 : static_cast<double>(random() % 2000) / 8.0 - 100);
      return;
    case ApiKind::kString:
    case ApiKind::kBlob: {
      const std::string text = RandomText(random, context);
      out.SetString(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), allocator);
      return;
    }
    case ApiKind::kEnum:
      SetEnum(FindType(type.typeName), broken, random, out, allocator);
      return;
    case ApiKind::kVector:
      GenerateVector(type, variant, context, random, out, allocator, depth);
      return;
    case ApiKind::kStruct:
      GenerateStruct(type, variant, broken, context, random, out, allocator, depth);
      return;
    case ApiKind::kObject:
    case ApiKind::kMap:
    case ApiKind::kNone:
    case ApiKind::kCallback:
    default:
      GenerateAny(variant, context, random, out, allocator, depth);
      return;
  }
}

void ApiModel::GenerateVector(const ApiTypeReference& type, ValueVariant variant,
                              const std::string& context, Random& random, rapidjson::Value& out,
                              rapidjson::Document::AllocatorType& allocator, int depth) const {
  out.SetArray();
  const std::size_t count = depth >= kMaxDepth ? 0 : random() % 7;
  for (std::size_t index = 0; index < count; ++index) {
    rapidjson::Value element;
    Generate(ApiTypeReference{type.elementKind, ApiKind::kNone, type.typeName}, variant, context,
             random, element, allocator, depth + 1);
    out.PushBack(element, allocator);
  }
}

void ApiModel::GenerateStruct(const ApiTypeReference& type, ValueVariant variant, bool broken,
                              const std::string& context, Random& random, rapidjson::Value& out,
                              rapidjson::Document::AllocatorType& allocator, int depth) const {
  const ApiType* described = FindType(type.typeName);
  out.SetObject();
  if (described == nullptr || depth >= kMaxDepth) return;
  for (const ApiField& field : described->fields) {
    if (field.optional && random() % 4 == 0) continue;
    if (broken && random() % 4 == 0) continue;
    rapidjson::Value member;
    // A member named "uri" is about the context's path most of the time.
    if (field.name == "uri" && !context.empty() && random() % 4 != 0) {
      const std::string path = PathOfEventName(context);
      member.SetString(path.c_str(), allocator);
    } else {
      Generate(field.type, variant, context, random, member, allocator, depth + 1);
    }
    out.AddMember(rapidjson::Value(field.name.c_str(), allocator), member, allocator);
  }
  if (broken) out.AddMember("unexpectedMember", 1, allocator);
}

void ApiModel::GenerateAny(ValueVariant variant, const std::string& context, Random& random,
                           rapidjson::Value& out, rapidjson::Document::AllocatorType& allocator,
                           int depth) const {
  // Any value: mostly a registered record, the one the context names first.
  if (depth < kMaxDepth && !typeNames_.empty() && random() % 4 != 0) {
    const std::string wanted = Lower(context);
    std::vector<const std::string*> named;
    for (const std::string& name : typeNames_) {
      const std::string shortName = Lower(ShortName(name));
      if (!wanted.empty() && shortName.size() > 3 && wanted.find(shortName) != std::string::npos) {
        named.push_back(&name);
      }
    }
    const std::string& chosen = !named.empty() && random() % 4 != 0
                                    ? *named[random() % named.size()]
                                    : typeNames_[random() % typeNames_.size()];
    const ApiType* described = FindType(chosen);
    if (described != nullptr && !described->isEnum) {
      Generate(ApiTypeReference{ApiKind::kStruct, ApiKind::kNone, chosen}, variant, context, random,
               out, allocator, depth + 1);
      return;
    }
  }
  switch (random() % 4) {
    case 0:
      out.SetNull();
      return;
    case 1:
      out.SetInt(static_cast<int>(random() % 100));
      return;
    case 2: {
      const std::string text = RandomText(random, context);
      out.SetString(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), allocator);
      return;
    }
    default:
      out.SetObject();
      return;
  }
}

void ApiModel::GeneratePayload(const std::string& eventName, ValueVariant variant, Random& random,
                               rapidjson::Document& out) const {
  const ApiEvent* event = EventFor(eventName);
  ApiTypeReference type{ApiKind::kObject, ApiKind::kNone, ""};
  if (event != nullptr && FindType(event->payloadTypeName) != nullptr) {
    type = ApiTypeReference{ApiKind::kStruct, ApiKind::kNone, event->payloadTypeName};
  }
  Generate(type, variant, eventName, random, out, out.GetAllocator());
}

std::string ApiModel::GeneratePath(const ApiEndpoint& endpoint, ValueVariant variant,
                                   Random& random, const std::string& unbindableCapture) const {
  const bool unbindable = variant == ValueVariant::kUnbindable;
  if (unbindable) variant = ValueVariant::kValid;
  std::string path;
  std::size_t start = 0;
  const std::string& pattern = endpoint.urlTemplate;
  while (start < pattern.size()) {
    const std::size_t open = pattern.find('{', start);
    if (open == std::string::npos) {
      path += pattern.substr(start);
      break;
    }
    const std::size_t close = pattern.find('}', open);
    if (close == std::string::npos) {
      path += pattern.substr(start);
      break;
    }
    path += pattern.substr(start, open - start);
    std::string name = pattern.substr(open + 1, close - open - 1);
    if (!name.empty() && name[0] == '+') name.erase(0, 1);
    ApiTypeReference type{ApiKind::kString, ApiKind::kNone, ""};
    for (const ApiArgument& argument : endpoint.arguments) {
      if (argument.name == name) type = argument.type;
    }
    rapidjson::Document value;
    Generate(type, variant, endpoint.urlTemplate, random, value, value.GetAllocator());
    std::string text;
    if (value.IsString()) {
      text = value.GetString();
    } else if (value.IsInt64()) {
      text = std::to_string(value.GetInt64());
    } else if (value.IsUint64()) {
      text = std::to_string(value.GetUint64());
    } else if (value.IsDouble()) {
      text = std::to_string(static_cast<long long>(value.GetDouble()));
    } else {
      text = "x";
    }
    if (variant == ValueVariant::kMalformed && random() % 2 == 0) text = "%zz" + text;
    // An empty segment would not route: the request must fail its binding only.
    if (unbindable) text = name == unbindableCapture ? kUnbindableText : text.empty() ? "x" : text;
    // A text with a "/" or "?" would leave its segment: keep the path's shape.
    for (char& c : text) {
      if (c == '/' || c == '?' || c == '#') c = '_';
    }
    path += text;
    start = close + 1;
  }
  return path;
}

std::string ApiModel::Conforms(const Abi::HostValue& value, const ApiTypeReference& type,
                               int depth) const {
  if (depth > 64) return "nested too deeply";
  const auto t = value.type;
  const bool isString = t == Abi::kHostValueBorrowedString || t == Abi::kHostValueOwnedString;
  const bool isNumber =
      t == Abi::kHostValueSigned || t == Abi::kHostValueUnsigned || t == Abi::kHostValueFloat;
  if (t > Abi::kHostValueStructure) return "a host value of type " + std::to_string(t);
  if (t == Abi::kHostValueEmpty) return "";
  const ApiKind kind = type.kind;
  if (IsInteger(kind) || kind == ApiKind::kFloat || kind == ApiKind::kDouble) {
    return isNumber || t == Abi::kHostValueBool ? "" : "not a number";
  }
  switch (kind) {
    case ApiKind::kBool:
      return t == Abi::kHostValueBool || isNumber ? "" : "not a bool";
    case ApiKind::kString:
      return isString ? "" : "not a text";
    case ApiKind::kBlob:
      return isString || t == Abi::kHostValueBorrowedBlob || t == Abi::kHostValueOwnedBlob
                 ? ""
                 : "not a blob";
    case ApiKind::kEnum: {
      if (isNumber) return "";
      if (!isString) return "not an enumeration value";
      const ApiType* described = FindType(type.typeName);
      const char* text = reinterpret_cast<const char*>(value.data);
      if (described == nullptr || text == nullptr) return "";
      for (const ApiEnumValue& candidate : described->values) {
        if (candidate.name == text) return "";
      }
      return std::string("\"") + text + "\" is no value of " + type.typeName;
    }
    case ApiKind::kVector: {
      if (t != Abi::kHostValueCollection) return "not a collection";
      const auto* elements = reinterpret_cast<const Abi::HostValue*>(value.data);
      for (Abi::HostWord index = 0; elements != nullptr && index < value.extra; ++index) {
        const std::string problem =
            Conforms(elements[index],
                     ApiTypeReference{type.elementKind, ApiKind::kNone, type.typeName}, depth + 1);
        if (!problem.empty()) return "element " + std::to_string(index) + ": " + problem;
      }
      return "";
    }
    case ApiKind::kStruct: {
      if (t != Abi::kHostValueStructure) return "not a structure";
      const ApiType* described = FindType(type.typeName);
      if (described == nullptr) return "";
      const auto* members = reinterpret_cast<const Abi::HostStructMember*>(value.data);
      for (Abi::HostWord index = 0; members != nullptr && index < value.extra; ++index) {
        const Abi::HostStructMember member = members[index];
        if (member.key == nullptr) return "a member without a key";
        const ApiField* field = nullptr;
        for (const ApiField& candidate : described->fields) {
          if (candidate.name == member.key) field = &candidate;
        }
        if (field == nullptr) {
          return std::string("member \"") + member.key + "\" is no field of " + type.typeName;
        }
        const std::string problem = Conforms(member.value, field->type, depth + 1);
        if (!problem.empty()) return std::string("member \"") + member.key + "\": " + problem;
      }
      return "";
    }
    case ApiKind::kMap:
      return t == Abi::kHostValueStructure ? "" : "not a map";
    default:
      return "";
  }
}

bool IsEmptyJson(const std::string& json) {
  rapidjson::Document document;
  if (ParseJsonText(json, document).Failed()) return false;
  std::vector<const rapidjson::Value*> pending{&document};
  while (!pending.empty()) {
    const rapidjson::Value* value = pending.back();
    pending.pop_back();
    if (value->IsObject()) {
      for (const auto& member : value->GetObject()) pending.push_back(&member.value);
    } else if (value->IsArray()) {
      if (!value->Empty()) return false;
    } else if (value->IsString()) {
      if (value->GetStringLength() != 0) return false;
    } else if (value->IsNumber()) {
      if (value->GetDouble() != 0) return false;
    } else if (value->IsBool()) {
      if (value->GetBool()) return false;
    }
  }
  return true;
}

}  // namespace Kavren::Host
