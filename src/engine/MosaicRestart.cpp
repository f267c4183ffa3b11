#include "engine/MosaicRestart.h"

#include "platform/EventLog.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <spawn.h>
#include <thread>
#include <unistd.h>

namespace tv {

namespace {

// Everything above stderr is closed in the successor.
constexpr int kFirstClosedFd = 3;

} // namespace

Result<pid_t> spawnSuccessor(const std::string& program, const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_init(&actions);

    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK
                                        | POSIX_SPAWN_SETSIGDEF);
    posix_spawn_file_actions_addclosefrom_np(&actions, kFirstClosedFd);

    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0)
        return fail("cannot start " + program + ": " + std::strerror(rc));
    return pid;
}

void endProcess(int code)
{
    std::fflush(nullptr);
    ::_exit(code);
}

void ReRunMosaic(const RestartPlan& plan, const std::string& displayName)
{
    // The first caller restarts; a second one (the other watchdog) must not
    // start a second successor, so it waits here until the process is gone.
    static std::mutex once;
    if (!once.try_lock()) {
        for (;;)
            std::this_thread::sleep_for(std::chrono::seconds(1));
    }

    if (plan.stopAll)
        plan.stopAll();
    // The successor checks the single-instance lock as soon as it starts; if
    // this process still held it then, the successor would give up and leave
    // the mosaic off air.
    if (plan.releaseForSuccessor)
        plan.releaseForSuccessor();
    auto started = spawnSuccessor(plan.program, plan.arguments);
    if (!started)
        platform::writeEventLog(displayName, platform::EventType::Error, started.error());
    if (plan.exit)
        plan.exit(kExitStopped);
    endProcess(kExitStopped);
}

} // namespace tv
