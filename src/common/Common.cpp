#include "common/Common.h"

#include "platform/Paths.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef TILVARON_VERSION
#define TILVARON_VERSION "0.0.0"
#endif

namespace tv {

std::string CutToken(std::string& text, std::string_view delimiter)
{
    if (delimiter.empty())
        return {};
    const size_t at = text.find(delimiter);
    if (at == std::string::npos)
        return {};
    std::string head = text.substr(0, at);
    text.erase(0, at + delimiter.size());
    return head;
}

std::string GetAppPath()
{
    return platform::programFolder();
}

std::string GetFileVersionStr(const std::string& path)
{
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::string(kNoVersionInformation);

    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved))
        return std::string(kNoVersionInformation);
    std::string file(resolved);
    const size_t slash = file.rfind('/');
    const std::string folder = file.substr(0, slash + 1);

    char ownFolder[PATH_MAX];
    const std::string programFolder = platform::programFolder();
    if (!::realpath(programFolder.c_str(), ownFolder))
        return std::string(kNoVersionInformation);
    std::string own(ownFolder);
    if (own.back() != '/')
        own += '/';
    return folder == own ? std::string(TILVARON_VERSION) : std::string(kNoVersionInformation);
}

std::optional<pid_t> singleProcessId(std::uint32_t processId)
{
    if (processId == 0 || processId > static_cast<std::uint32_t>(INT_MAX))
        return std::nullopt;
    return static_cast<pid_t>(processId);
}

bool KillProcess(std::uint32_t processId)
{
    const auto pid = singleProcessId(processId);
    if (!pid)
        return false;
    if (*pid == ::getpid()) {
        std::fflush(nullptr);
        ::_exit(0);
    }
    return ::kill(*pid, SIGKILL) == 0;
}

} // namespace tv
