#pragma once
// Event-log entries of the stream server and the output sink, under the
// program file's name as source. Any thread.

#include "platform/EventLog.h"

#include <string>

namespace tv {

void logServerEvent(platform::EventType type, const std::string& text);

} // namespace tv
