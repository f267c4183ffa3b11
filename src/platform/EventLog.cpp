#include "platform/EventLog.h"

#include <mutex>
#include <stdio.h>
#include <syslog.h>

namespace tv::platform {

void writeEventLog(const std::string& source, EventType type, const std::string& text)
{
    // openlog keeps the ident pointer, so the string must stay alive while it
    // is in use: hold one per process and reopen under a lock.
    static std::mutex lock;
    static std::string ident;
    const int priority = type == EventType::Error ? LOG_ERR : LOG_INFO;
    {
        std::lock_guard guard(lock);
        if (ident != source) {
            closelog();
            ident = source;
            openlog(ident.c_str(), LOG_PID, LOG_USER);
        }
        syslog(priority, "%s", text.c_str());
    }
    fprintf(stderr, "%s: %s: %s\n", source.c_str(),
            type == EventType::Error ? "error" : "information", text.c_str());
}

} // namespace tv::platform
