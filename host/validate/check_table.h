// The table of the validator's checks: each check's id, description, budget, flags and
// body, in the order they run, and selecting them by pattern.
#pragma once

#include <string>
#include <vector>

#include "host/validate/checks.h"

namespace Kavren::Host {

/// Every check, in the order they run.
[[nodiscard]] const std::vector<CheckSpec>& AllChecks();
[[nodiscard]] const CheckSpec* FindCheck(const std::string& id);

/// True when `id` matches one of the comma-separated patterns ("*" matches any run of
/// characters; a pattern without "*" and "." also matches a whole family).
[[nodiscard]] bool MatchesAny(const std::string& id, const std::string& patterns);

/// The checks --only and --skip leave, in run order.
[[nodiscard]] std::vector<const CheckSpec*> SelectChecks(const std::string& only,
                                                         const std::string& skip);

}  // namespace Kavren::Host
