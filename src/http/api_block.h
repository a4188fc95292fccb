// The API block's export tables: the registry and the endpoint registrations as records.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "abi/api_block.h"
#include "abi/plugin.h"

namespace Kavren {

class BindingRegistry;
struct EndpointFunction;
struct FunctionRecord;
struct TypeRef;

/// Owns every record and text of the API block. The block points into these tables,
/// which stay unchanged until the next Build or the tables' destruction; registrations
/// persist across builds, so a registration pointer the host holds stays valid.
class ApiExportTables {
 public:
  ApiExportTables() = default;
  ApiExportTables(const ApiExportTables&) = delete;
  ApiExportTables& operator=(const ApiExportTables&) = delete;

  /// Builds the block: one description record per function, type and event of the
  /// registry's snapshots (in snapshot order, each array linked), and one endpoint
  /// descriptor per entry of `endpoints` (in their order), each carrying the function's
  /// description (with its registration, holding `router` and the endpoint), `entry`,
  /// the argument locations, template, method, flag, text lists and custom method.
  [[nodiscard]] Abi::PluginApiBlock Build(const BindingRegistry& registry,
                                          const std::map<std::string, EndpointFunction*>& endpoints,
                                          void* router, Abi::ApiRequestEntry entry);

  /// The function description records of the last build, linked in snapshot order.
  [[nodiscard]] const Abi::ApiFunctionRecord* Functions() const {
    return functions_.empty() ? nullptr : &functions_.front();
  }

 private:
  const char* Text(std::string_view text);
  const char* TypeName(const TypeRef& type);
  const char* const* TextArray(const std::vector<std::string>& texts);
  Abi::ApiFunctionBody DescribeFunction(const FunctionRecord& function);
  void Clear();

  // Owned texts and text-pointer arrays; deques keep addresses stable as they grow.
  // The record tables are contiguous arrays (a host may index them), reserved to their
  // final size before filling so that the links between records stay valid.
  std::deque<std::string> texts_;
  std::deque<std::vector<const char*>> textArrays_;
  std::vector<Abi::ApiFunctionRecord> functions_;
  std::vector<Abi::ApiArgumentRecord> arguments_;
  std::vector<Abi::ApiTypeRecord> types_;
  std::vector<Abi::ApiFieldRecord> fields_;
  std::vector<Abi::ApiEnumValueRecord> values_;
  std::vector<Abi::ApiEventRecord> events_;
  std::vector<Abi::ApiLocationEntry> locations_;
  std::vector<Abi::ApiTextListEntry> textLists_;
  std::vector<Abi::ApiEndpointDescriptor> descriptors_;
  std::map<std::string, std::unique_ptr<Abi::ApiEndpointRegistration>, std::less<>> registrations_;
};

}  // namespace Kavren
