#include "channels/ChannelLog.h"

#include "platform/EventLog.h"
#include "platform/Paths.h"

namespace tv::channels {

void logError(const std::string& text)
{
    static const std::string source = [] {
        std::string exe = platform::programFile();
        auto slash = exe.rfind('/');
        exe = slash == std::string::npos ? exe : exe.substr(slash + 1);
        return exe.empty() ? std::string("Tilvaron") : exe;
    }();
    platform::writeEventLog(source, platform::EventType::Error, text);
}

} // namespace tv::channels
