// The run control under a real event loop with real child processes standing
// in for Players: rotation replaces processes and reaps the old ones, a
// killed process comes back, the watchdog counts down and acts, and the stop
// leaves neither a process nor a zombie behind.

#include "engine/MosaicRestart.h"
#include "engine/RunControl.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

QCoreApplication& app()
{
    static int argc = 1;
    static char name[] = "engine_runctl_pool_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* instance = new QCoreApplication(argc, argv);
    return *instance;
}

// Runs the event loop until `done` or the limit (only to stay alive).
template <typename F>
bool runUntil(F done, int limitMs = 30000)
{
    QElapsedTimer t;
    t.start();
    QTimer wake; // the loop below sleeps until some event comes
    wake.start(20);
    while (!done() && t.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

void runFor(int ms)
{
    runUntil([] { return false; }, ms);
}

// Whether a process still exists in any form (a zombie included).
bool processExists(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    return stat.good();
}

// Stand-in Players: sleeping processes; "Close" ends the current one.
struct Fake {
    std::mutex lock;
    std::map<int, pid_t> current;
    std::vector<std::pair<int, int>> starts; // player, source
    std::vector<std::string> statuses;
    std::vector<std::string> errors;
    int restarts = 0;
    int stops = 0;

    tv::RunControlHooks hooks()
    {
        tv::RunControlHooks h;
        h.startPlayer = [this](int player, int source) {
            auto p = tv::spawnSuccessor("/bin/sleep", {"600"});
            std::lock_guard g(lock);
            starts.emplace_back(player, source);
            if (!p)
                return pid_t(0);
            current[player] = *p;
            return *p;
        };
        h.sendClose = [this](int player) {
            std::lock_guard g(lock);
            if (current.count(player))
                ::kill(current[player], SIGTERM);
        };
        h.status = [this](const std::string& s) {
            std::lock_guard g(lock);
            statuses.push_back(s);
        };
        h.logError = [this](const std::string& s) {
            std::lock_guard g(lock);
            errors.push_back(s);
        };
        h.restart = [this] { ++restarts; };
        h.stopEncoder = [this] { ++stops; };
        return h;
    }
};

// A run as the engine starts one: watchdog, pool, players, rotation.
void startRun(tv::RunControl& rc, int players, int sources, int intervalSec, int mode)
{
    rc.startWatchdog();
    rc.createPool(players, sources);
    for (int p = 0; p < players; ++p)
        rc.startInitialPlayer(p, rc.initialSource(p));
    rc.startRotation(intervalSec, mode);
    rc.startChanger();
}

TEST(EngineRunctlPool, RotationReplacesAndReapsProcesses)
{
    app();
    Fake fake;
    tv::RunControl rc(fake.hooks());
    startRun(rc, 2, 3, 1, tv::SourceChanger::OneByOne);
    const pid_t first0 = rc.supervisor()->processId(0);
    ASSERT_GT(first0, 0);

    ASSERT_TRUE(runUntil([&] { return rc.supervisor()->processId(0) != first0
                                      && rc.supervisor()->processId(0) > 0; }));
    EXPECT_EQ(rc.supervisor()->source(0), 3);
    EXPECT_TRUE(runUntil([&] { return !processExists(first0); }))
        << "the replaced process is reaped, not left as a zombie";

    ASSERT_TRUE(runUntil([&] { return rc.supervisor()->source(1) == 1; }));
    rc.StopAll();
    for (auto [player, pid] : fake.current)
        EXPECT_FALSE(processExists(pid)) << "player " << player;
    EXPECT_TRUE(rc.supervisor()->knownProcesses().empty());
}

TEST(EngineRunctlPool, KilledPlayerComesBackWithItsSource)
{
    app();
    Fake fake;
    tv::RunControl rc(fake.hooks());
    startRun(rc, 2, 5, 600, tv::SourceChanger::OneByOne);
    const pid_t victim = rc.supervisor()->processId(1);
    ::kill(victim, SIGKILL);
    ASSERT_TRUE(runUntil([&] { return rc.supervisor()->processId(1) > 0
                                      && rc.supervisor()->processId(1) != victim; }));
    EXPECT_EQ(rc.supervisor()->source(1), 2);
    EXPECT_FALSE(processExists(victim));
    ASSERT_FALSE(fake.errors.empty());
    EXPECT_EQ(fake.errors.back(), "Player 2 was ended by signal 9; starting it again in 1 s");
    const pid_t back = rc.supervisor()->processId(1);
    rc.StopAll();
    EXPECT_FALSE(processExists(back));
}

TEST(EngineRunctlPool, StalledOutputCountsDownAndActsOnce)
{
    app();
    Fake withAuto, withoutAuto;
    tv::RunControl a(withAuto.hooks()), b(withoutAuto.hooks());
    a.setAutoStart(true);
    for (tv::RunControl* rc : {&a, &b}) {
        rc->startWatchdog();
        rc->heartbeat(25); // one heartbeat, then silence
    }
    ASSERT_TRUE(runUntil([&] { return withAuto.restarts > 0 && withoutAuto.stops > 0; }, 60000));
    runFor(1500); // the count goes on, nothing more happens
    for (Fake* f : {&withAuto, &withoutAuto}) {
        ASSERT_GE(f->statuses.size(), 7u);
        EXPECT_EQ(f->statuses[0], "25");
        EXPECT_EQ(std::vector<std::string>(f->statuses.begin() + 1, f->statuses.begin() + 6),
                  (std::vector<std::string>{"4", "3", "2", "1", "0"}));
        EXPECT_EQ(f->statuses[6], "-1");
        EXPECT_EQ(f->errors, std::vector<std::string>{"Time out error!"});
    }
    EXPECT_EQ(withAuto.restarts, 1);
    EXPECT_EQ(withAuto.stops, 0);
    EXPECT_EQ(withoutAuto.restarts, 0);
    EXPECT_EQ(withoutAuto.stops, 1);
}

} // namespace
