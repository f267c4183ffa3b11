#include "platform/Process.h"

#include "platform/SystemError.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace tv::platform {

namespace {

ExitStatus decode(int status)
{
    ExitStatus s;
    if (WIFEXITED(status)) {
        s.exited = true;
        s.code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        s.signal = WTERMSIG(status);
    }
    return s;
}

} // namespace

Result<Process> Process::spawn(const std::string& program, const std::vector<std::string>& args)
{
    const pid_t pid = spawnProcess(program, args);
    if (pid < 0)
        return fail(systemErrorText(-pid));
    return Process(pid);
}

bool Process::dieWithParent(int sig, int exitCode)
{
    if (prctl(PR_SET_PDEATHSIG, sig) != 0)
        return false;
    // The parent may have ended before the request took effect: then we were
    // handed to another process already.
    if (const char* v = std::getenv(kParentPidVariable)) {
        char* end = nullptr;
        long expected = std::strtol(v, &end, 10);
        if (end != v && *end == '\0' && expected > 0 && getppid() != static_cast<pid_t>(expected))
            _exit(exitCode);
    }
    return true;
}

Process::Process(Process&& other) noexcept : pid_(std::exchange(other.pid_, 0)) {}

Process& Process::operator=(Process&& other) noexcept
{
    if (this != &other) {
        if (pid_ > 0)
            poll();
        pid_ = std::exchange(other.pid_, 0);
    }
    return *this;
}

Process::~Process()
{
    if (pid_ > 0)
        poll();
}

std::optional<ExitStatus> Process::poll()
{
    if (pid_ <= 0)
        return std::nullopt;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid_, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0)
        return std::nullopt;
    pid_ = 0;
    if (r < 0) // someone else reaped it (ECHILD): it has ended, status unknown
        return ExitStatus{};
    return decode(status);
}

std::optional<ExitStatus> Process::wait()
{
    if (pid_ <= 0)
        return std::nullopt;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid_, &status, 0);
    } while (r < 0 && errno == EINTR);
    pid_ = 0;
    if (r < 0)
        return ExitStatus{};
    return decode(status);
}

std::optional<ExitStatus> Process::kill()
{
    if (pid_ <= 0)
        return std::nullopt;
    ::kill(pid_, SIGKILL);
    return wait();
}

} // namespace tv::platform
