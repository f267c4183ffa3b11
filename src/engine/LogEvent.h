#pragma once
// LogEvent: one entry in the system event log under the engine's display
// name (the event-log source). Any thread; a failure to log is not reported.

#include <string>

namespace tv {

// Event types as the engine passes them; the engine logs errors only.
constexpr int kEventTypeError = 1;
constexpr int kEventTypeWarning = 2;
constexpr int kEventTypeInformation = 4;

void LogEvent(const std::string& displayName, const std::string& msg, int eventType);

} // namespace tv
