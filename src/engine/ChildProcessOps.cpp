#include "engine/ChildProcessOps.h"

#include <cerrno>
#include <csignal>
#include <sys/wait.h>

namespace tv {

std::optional<int> PosixChildProcessOps::reapIfEnded(pid_t pid)
{
    if (pid <= 0)
        return -1;
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return status;
        if (r == 0)
            return std::nullopt;
        if (errno == EINTR)
            continue;
        return -1; // ECHILD: not ours or already reaped; either way it is gone
    }
}

void PosixChildProcessOps::kill(pid_t pid)
{
    if (pid > 0)
        ::kill(pid, SIGKILL);
}

void PosixChildProcessOps::killAndReap(pid_t pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

} // namespace tv
