#include "platform/SystemError.h"

#include <cstring>

namespace tv::platform {

std::string systemErrorText(int code)
{
    char buf[256];
    // The GNU strerror_r may return a static string instead of filling buf.
    const char* text = strerror_r(code, buf, sizeof buf);
    return "System Error.  Code: " + std::to_string(code) + ".\n" + text;
}

} // namespace tv::platform
