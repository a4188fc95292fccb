// The OpenAPI document's operations: each endpoint's path, method, parameters, request
// body and responses.
#pragma once

#include <rapidjson/document.h>

#include "host/describe/api_description.h"
#include "host/describe/openapi_schemas.h"

namespace Kavren::Host::detail {

/// The document's "paths": one operation per endpoint, in endpoint order, as BuildOpenApi
/// (openapi.h) describes it. A repeated function name keeps its first endpoint, and so
/// does a path and method that two endpoints share. The schemas are written by `schemas`,
/// which keeps the records the requests refer to.
[[nodiscard]] rapidjson::Value Paths(const ApiDescription& api, SchemaWriter& schemas,
                                     Allocator& allocator);

/// The document's "components"/"responses": the development server's failure bodies that
/// the operations refer to, "Failure" (any failure) and "BadRequest" (status 400).
[[nodiscard]] rapidjson::Value FailureResponses(Allocator& allocator);

}  // namespace Kavren::Host::detail
