#include "engine/LogEvent.h"

#include "platform/EventLog.h"

namespace tv {

void LogEvent(const std::string& displayName, const std::string& msg, int eventType)
{
    // The log has two kinds only; a warning counts as an error there.
    const auto type = eventType == kEventTypeInformation ? platform::EventType::Information
                                                         : platform::EventType::Error;
    platform::writeEventLog(displayName, type, msg);
}

} // namespace tv
