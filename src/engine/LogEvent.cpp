#include "engine/LogEvent.h"

#include "platform/EventLog.h"

namespace tv {

void LogEvent(const std::string& displayName, const std::string& msg, int eventType)
{
    platform::writeEventLog(displayName, eventLogKind(static_cast<std::uint16_t>(eventType)), msg);
}

} // namespace tv
