// How long one source change holds the main thread. The pool sends "Close",
// returns at once and starts the successor from its supervision tick 200 ms
// later; the baseline is the same change done in one go, with the 200 ms wait
// on the calling thread before the start. Both start a real process (/bin/true)
// and reap it. Prints the main-thread time per change of each and the ratio.

#include "engine/MosaicRestart.h"
#include "engine/PlayerSupervisor.h"
#include "engine/SourceChanger.h"

#include <chrono>
#include <cstdio>
#include <sys/wait.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kChanges = 10;

pid_t startTrue()
{
    auto pid = tv::spawnSuccessor("/bin/true", {});
    return pid ? *pid : 0;
}

struct Host : tv::PlayerSupervisorHost {
    void sendClose(int) override {}
    pid_t startPlayer(int, int) override { return startTrue(); }
};

} // namespace

int main()
{
    // Baseline: close, wait 200 ms, start, all on the calling thread.
    double baselineMs = 0;
    for (int i = 0; i < kChanges; ++i) {
        const auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(tv::PlayerSupervisor::kCloseWaitMs));
        const pid_t pid = startTrue();
        baselineMs += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        int st;
        ::waitpid(pid, &st, 0);
    }

    // The pool: the change call, then the supervision tick that starts the
    // successor (the wait in between leaves the thread free).
    Host host;
    tv::PosixChildProcessOps ops;
    tv::PlayerSupervisor pool(host, ops, 1);
    double poolMs = 0;
    for (int i = 0; i < kChanges; ++i) {
        auto t0 = Clock::now();
        pool.ChangePlayer(0, i + 1, tv::SourceChanger::nowMs());
        poolMs += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        std::this_thread::sleep_for(std::chrono::milliseconds(tv::PlayerSupervisor::kCloseWaitMs + 10));
        t0 = Clock::now();
        pool.poll(tv::SourceChanger::nowMs());
        poolMs += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    }
    pool.stopAll();

    baselineMs /= kChanges;
    poolMs /= kChanges;
    std::printf("main thread held per source change: pool %.3f ms, blocking baseline %.3f ms, ratio %.4f\n",
                poolMs, baselineMs, poolMs / baselineMs);
    return 0;
}
