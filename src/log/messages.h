// The fixed texts of the logging subsystem: tags, names, patterns and report pieces.
#pragma once

#include <cstdint>

namespace Kavren::detail {

// Level tags, always six characters, indexed by level 0 to 3.
inline constexpr const char* kLevelTags[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};
// Tag for a level outside 0 to 3; also six characters so columns stay aligned.
inline constexpr const char kUnknownLevelTag[] = "  ????";

// Initial group table: slots 0 to 7 in use, the rest free.
inline constexpr const char* kInitialGroupTags[] = {"DBG", "GEN", "XTR", "PRF",
                                                    "MEM", "DSK", "NET", "TST"};
inline constexpr const char kFreeGroupTag[] = "???";
inline constexpr char kGroupSeparator = ';';

// Line patterns.
inline constexpr const char kDefaultPattern[] = "#D| #L| #G| #M";
inline constexpr const char kConsolePattern[] = "#E(#T): #L| #M";
inline constexpr const char kStdOutPattern[] = "#M";

// Time and counter layouts.
inline constexpr const char kTimeFormat[] = "%04d-%02d-%02dT%02d:%02d:%02d.%03d";
inline constexpr const char kFileTimeFormat[] = "%04d-%02d-%02dT%02d-%02d-%02d";
inline constexpr const char kThreadFormat[] = "%p";
inline constexpr const char kHighResolutionFormat[] = "%06d.%03d";

// The process name until the manager has read the executable's path.
inline constexpr const char kUnknownProcessName[] = "<unknown>";

// Target names.
inline constexpr const char kLogTargetName[] = "LogTarget";
inline constexpr const char kBaseConsoleLogTargetName[] = "BaseConsoleLogTarget";
inline constexpr const char kStdErrLogTargetName[] = "StdErrLogTarget";
inline constexpr const char kStdOutLogTargetName[] = "StdOutLogTarget";
inline constexpr const char kDebuggerConsoleLogTargetName[] = "DebuggerConsoleLogTarget";
inline constexpr const char kPluginLogTargetName[] = "PluginLogTarget";

// Assertion report pieces, in the order they appear.
inline constexpr const char kAssertionHeading[] = "Assertion failed!\n\n";
inline constexpr const char kAssertionFile[] = "File: ";
inline constexpr const char kAssertionLine[] = "Line: ";
inline constexpr const char kAssertionFunction[] = "Function: ";
inline constexpr const char kAssertionExpression[] = "Expression: ";
inline constexpr const char kAssertionDescription[] = "Description: ";
// The format through which a report reaches the log.
inline constexpr const char kAssertionLogFormat[] = "%s";

// Thread names of the main-thread tracing event.
inline constexpr const char kMainThreadName[] = "Main thread";
inline constexpr const char kMissingThreadName[] = "NULL";

}  // namespace Kavren::detail
