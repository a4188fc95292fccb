// Every fixed text of the HTTP model, remoting and awaiting, with its placeholders.
#pragma once

namespace Kavren::HttpMessages {

// Protocol text of the message model.
inline constexpr const char kProtocol[] = "http/1.1";

// Typed results without a message of their own.
inline constexpr const char kNotFound[] = "Not found";
inline constexpr const char kInternalServerError[] = "Internal server error";

// Remoting calls: %1 the method text, %2 the path, %3 the cause.
inline constexpr const char kParametersNotConverted[] =
    "Request not sent: Error converting parameters for %1 %2: %3";
inline constexpr const char kErrorResponse[] = "Error response for %1 %2: %3";
inline constexpr const char kStreamedResponseNotRead[] =
    "Error reading streamed response for %1 %2: %3";
inline constexpr const char kResponseNotConverted[] = "Error converting response for %1 %2: %3";
inline constexpr const char kStreamReadError[] = "Stream read error";
// A call made while no host table is known (before start or after stop).
inline constexpr const char kNoHost[] = "Request not sent: No host to call for %1 %2";
// The top-level name under which a response value is converted.
inline constexpr const char kResultName[] = "<result>";

// Awaiting: %1 the result type's name text.
inline constexpr const char kFutureWaitLabel[] = "Wait: future<%1>";
inline constexpr const char kYieldWaitLabel[] = "Wait: yield";
inline constexpr const char kFutureErrorAssertion[] = "ALE-6D828C10";
// %1 the error code's number, %2 the error's text.
inline constexpr const char kFutureErrorCaught[] =
    "Caught std::future_error in AppModule::Await: (%1) %2";

}  // namespace Kavren::HttpMessages
