#include "engine/MosaicRestart.h"

#include "platform/EventLog.h"
#include "platform/SpawnProcess.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace tv {

Result<pid_t> spawnSuccessor(const std::string& program, const std::vector<std::string>& arguments)
{
    // The successor outlives this process and must not be stopped by a signal
    // to our process group.
    const pid_t pid = platform::spawnProcess(program, arguments,
                                             {.dieWithThisProcess = false, .newProcessGroup = true});
    if (pid < 0)
        return fail("cannot start " + program + ": " + std::strerror(-pid));
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
