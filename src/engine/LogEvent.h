#pragma once
// LogEvent: one entry in the system event log under the engine's display
// name (the event-log source). Any thread; a failure to log is not reported.

#include "common/LogEvent.h"

#include <string>

namespace tv {

// Event types as the engine passes them; the engine logs errors only.
constexpr int kEventTypeError = kEventLogError;
constexpr int kEventTypeWarning = kEventLogWarning;
constexpr int kEventTypeInformation = kEventLogInformation;

void LogEvent(const std::string& displayName, const std::string& msg, int eventType);

} // namespace tv
