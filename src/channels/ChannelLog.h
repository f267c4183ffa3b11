#pragma once
// Event-log entries of the channel classes, under the running program's name
// as the source. Any thread.

#include <string>

namespace tv::channels {

void logError(const std::string& text);

} // namespace tv::channels
