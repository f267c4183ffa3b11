#include "common/PrintfText.h"

#include <cstdarg>
#include <cstdio>

namespace tv {

std::string printfText(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::string s;
    if (n > 0) {
        s.resize(static_cast<size_t>(n));
        std::vsnprintf(s.data(), s.size() + 1, fmt, again);
    }
    va_end(again);
    return s;
}

} // namespace tv
