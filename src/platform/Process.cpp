#include "platform/Process.h"

#include "platform/SystemError.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace tv::platform {

namespace {

constexpr int kFirstClosedDescriptor = 3; // after stdin, stdout, stderr

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
    std::vector<char*> argv;
    argv.reserve(args.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    // The environment plus our pid under kParentPidVariable (replacing any
    // value inherited from our own parent).
    const std::string prefix = std::string(kParentPidVariable) + "=";
    const std::string parent = prefix + std::to_string(getpid());
    std::vector<char*> envp;
    for (char** e = environ; e && *e; ++e)
        if (std::strncmp(*e, prefix.c_str(), prefix.size()) != 0)
            envp.push_back(*e);
    envp.push_back(const_cast<char*>(parent.c_str()));
    envp.push_back(nullptr);

    posix_spawnattr_t attr;
    int rc = posix_spawnattr_init(&attr);
    if (rc != 0)
        return fail(systemErrorText(rc));
    // A new process group (pgid = child's pid), and the default signal mask
    // and dispositions whatever this process changed.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);

    // Only the standard streams are handed down: a listening socket or a
    // recording file of ours must never stay open in a child.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclosefrom_np(&actions, kFirstClosedDescriptor);

    pid_t pid = 0;
    rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0)
        return fail(systemErrorText(rc));
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
