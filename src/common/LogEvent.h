#pragma once
// WriteEventLog: one entry in the system event log under the running
// program's file name. Any thread; a failure to log is not reported.

#include "platform/EventLog.h"

#include <cstdint>
#include <string>

namespace tv {

// Event types as callers pass them.
inline constexpr std::uint16_t kEventLogSuccess = 0x0000;
inline constexpr std::uint16_t kEventLogError = 0x0001;
inline constexpr std::uint16_t kEventLogWarning = 0x0002;
inline constexpr std::uint16_t kEventLogInformation = 0x0004;

// Error and warning entries go to the log as errors, every other type as
// information.
platform::EventType eventLogKind(std::uint16_t eventType);

void WriteEventLog(const std::string& message, std::uint16_t eventType);

// The source name entries carry: the program file's name with its extension.
std::string eventSourceName();

} // namespace tv
