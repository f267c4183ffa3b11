#include "common/LogEvent.h"

#include "platform/EventLog.h"
#include "platform/Paths.h"

namespace tv {

std::string eventSourceName()
{
    const std::string file = platform::programFile();
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? file : file.substr(slash + 1);
}

platform::EventType eventLogKind(std::uint16_t eventType)
{
    const bool error = eventType == kEventLogError || eventType == kEventLogWarning;
    return error ? platform::EventType::Error : platform::EventType::Information;
}

void WriteEventLog(const std::string& message, std::uint16_t eventType)
{
    platform::writeEventLog(eventSourceName(), eventLogKind(eventType), message);
}

} // namespace tv
