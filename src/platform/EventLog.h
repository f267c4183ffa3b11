#pragma once
// The system event log: syslog(3) with the source name as ident, plus the same
// entry as one line on standard error. Callable from any thread; a failure to
// log is never reported.

#include <string>

namespace tv::platform {

enum class EventType { Error, Information };

void writeEventLog(const std::string& source, EventType type, const std::string& text);

} // namespace tv::platform
