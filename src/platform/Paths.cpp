#include "platform/Paths.h"

#include <cstdlib>
#include <limits.h>
#include <pwd.h>
#include <unistd.h>

namespace tv::platform {

std::string programFile()
{
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    return std::string(buf, static_cast<size_t>(n));
}

std::string programFolder()
{
    std::string exe = programFile();
    auto slash = exe.rfind('/');
    return slash == std::string::npos ? std::string("./") : exe.substr(0, slash + 1);
}

std::string configFolder()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string dir;
    if (xdg && *xdg) {
        dir = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) {
            const passwd* pw = getpwuid(getuid());
            home = pw ? pw->pw_dir : "/tmp";
        }
        dir = std::string(home) + "/.config";
    }
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

} // namespace tv::platform
