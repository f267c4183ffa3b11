#pragma once
// Test support: a two-character mosaic instance name taken from the pid, so
// that test programs running side by side do not share an instance, and
// "MFile" + instance + player index stays within 8 characters. Header-only.

#include <unistd.h>

#include <string>

namespace tv::test {

inline std::string instanceName()
{
    const char* digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    const int n = ::getpid() % (36 * 36);
    return std::string{digits[n / 36], digits[n % 36]};
}

} // namespace tv::test
