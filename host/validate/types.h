// The validator's copy of a plugin's API block (endpoints, types, events), values
// generated from its descriptions, and the check that a value fits a described type.
#pragma once

#include <rapidjson/document.h>

#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "abi/api_block.h"
#include "abi/value.h"
#include "host/describe/api_description.h"

namespace Kavren::Host {

/// The validator's random source: every decision of a run comes from one of these.
using Random = std::mt19937_64;

/// How a generated value relates to its description. kUnbindable is for endpoint calls:
/// every argument valid except one that cannot bind (see UnbindableText), or an argument
/// entry of a name the endpoint does not have.
enum class ValueVariant { kValid, kMalformed, kOutOfRange, kUnbindable };
[[nodiscard]] const char* VariantName(ValueVariant variant);
[[nodiscard]] std::optional<ValueVariant> ParseVariant(const std::string& name);

/// The text an unbindable argument gets: no number, bool, enumeration value, structure,
/// collection or map reads it.
inline constexpr char kUnbindableText[] = "hxa-unbindable";
/// The name of an argument entry no endpoint describes.
inline constexpr char kUnknownArgumentName[] = "hxaValidateUnknownArgument";

/// What the validator knows of a plugin's API: a host-owned copy of its block, so it
/// stays valid after Stop, checked for records no host can use. Texts the generator draws from are
/// the block's own names plus a dictionary.
class ApiModel {
 public:
  /// Copies the block; fails with the reason when a record is malformed (a null text,
  /// a link chain shorter than its count, a method code out of range).
  [[nodiscard]] static std::optional<ApiModel> FromBlock(const Abi::PluginApiBlock* block,
                                                         std::string& problem);

  [[nodiscard]] const std::vector<ApiEndpoint>& Endpoints() const { return description_.endpoints; }
  [[nodiscard]] const ApiEndpoint* FindEndpoint(const std::string& functionName) const;
  /// The GET endpoint that serves `path`: the one whose template is exactly `path`, else
  /// one whose template matches it with its captures; null when none.
  [[nodiscard]] const ApiEndpoint* FindGet(const std::string& path) const;
  [[nodiscard]] const ApiType* FindType(const std::string& name) const;
  /// The event description of a subscribed or published name: the event whose name is
  /// the whole name or its prefix before a "_".
  [[nodiscard]] const ApiEvent* EventFor(const std::string& eventName) const;
  [[nodiscard]] const std::vector<ApiEvent>& Events() const { return description_.events; }

  /// Adds texts the generator draws from (one per line of a dictionary file).
  void AddTexts(const std::vector<std::string>& texts);

  /// A JSON value for `type`; `context` (an event name, a path) steers texts and the
  /// record chosen for "object" members toward what that context names.
  void Generate(const ApiTypeReference& type, ValueVariant variant, const std::string& context,
                Random& random, rapidjson::Value& out,
                rapidjson::Document::AllocatorType& allocator, int depth = 0) const;
  /// The payload of an event delivered to a subscription of `eventName`.
  void GeneratePayload(const std::string& eventName, ValueVariant variant, Random& random,
                       rapidjson::Document& out) const;
  /// A path for `endpoint`: each "{name}" capture filled for `variant`. For kUnbindable
  /// every capture is valid and not empty, except `unbindableCapture`, which is
  /// kUnbindableText.
  [[nodiscard]] std::string GeneratePath(const ApiEndpoint& endpoint, ValueVariant variant,
                                         Random& random,
                                         const std::string& unbindableCapture = "") const;
  [[nodiscard]] std::string RandomText(Random& random, const std::string& context) const;

  /// Empty when `value` converts to `type`; else why not.
  [[nodiscard]] std::string Conforms(const Abi::HostValue& value, const ApiTypeReference& type,
                                     int depth = 0) const;

 private:
  // Generate's composite kinds: an array of up to six elements, an object of the struct's
  // fields (some left out when optional or `broken`), and any value (mostly a record).
  void GenerateVector(const ApiTypeReference& type, ValueVariant variant,
                      const std::string& context, Random& random, rapidjson::Value& out,
                      rapidjson::Document::AllocatorType& allocator, int depth) const;
  void GenerateStruct(const ApiTypeReference& type, ValueVariant variant, bool broken,
                      const std::string& context, Random& random, rapidjson::Value& out,
                      rapidjson::Document::AllocatorType& allocator, int depth) const;
  void GenerateAny(ValueVariant variant, const std::string& context, Random& random,
                   rapidjson::Value& out, rapidjson::Document::AllocatorType& allocator,
                   int depth) const;

  ApiDescription description_;
  // Type name -> index in the description's types.
  std::map<std::string, std::size_t> types_;
  std::vector<std::string> typeNames_;
  std::vector<std::string> texts_;
};

/// True when every leaf of the JSON text is empty: null, false, 0, "", [] or {}.
[[nodiscard]] bool IsEmptyJson(const std::string& json);

}  // namespace Kavren::Host
