#include "httpserver/ServerLog.h"

#include "platform/Paths.h"

namespace tv {

void logServerEvent(platform::EventType type, const std::string& text)
{
    static const std::string source = [] {
        const std::string file = platform::programFile();
        const auto slash = file.find_last_of('/');
        return slash == std::string::npos ? file : file.substr(slash + 1);
    }();
    platform::writeEventLog(source, type, text);
}

} // namespace tv
