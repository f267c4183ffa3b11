// Player pool supervision on fake processes: delayed successors, restarts
// with back-off, replaced processes left alone or killed, and the stop.

#include "engine/PlayerSupervisor.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <utility>
#include <vector>

namespace {

using Start = std::pair<int, int>; // player, source

struct FakeOps : tv::ChildProcessOps {
    std::set<pid_t> running;
    std::set<pid_t> killed;
    std::set<pid_t> reaped;

    std::optional<int> reapIfEnded(pid_t pid) override
    {
        if (running.count(pid))
            return std::nullopt;
        reaped.insert(pid);
        return 0;
    }
    void kill(pid_t pid) override
    {
        killed.insert(pid);
        running.erase(pid);
    }
    void killAndReap(pid_t pid) override
    {
        kill(pid);
        reaped.insert(pid);
    }
};

struct FakeHost : tv::PlayerSupervisorHost {
    FakeOps& ops;
    pid_t nextPid = 1000;
    bool failStarts = false;
    std::vector<int> closes;
    std::vector<Start> starts;
    std::vector<int> delays;

    explicit FakeHost(FakeOps& o) : ops(o) {}
    void sendClose(int player) override { closes.push_back(player); }
    pid_t startPlayer(int player, int source) override
    {
        starts.emplace_back(player, source);
        if (failStarts)
            return 0;
        ops.running.insert(++nextPid);
        return nextPid;
    }
    void playerEnded(int, int, int delayMs) override { delays.push_back(delayMs); }
};

struct Pool {
    FakeOps ops;
    FakeHost host{ops};
    tv::PlayerSupervisor sup;
    int64_t now = 0;

    explicit Pool(int players) : sup(host, ops, players)
    {
        for (int p = 0; p < players; ++p)
            sup.start(p, p + 1, now);
        host.starts.clear();
    }
    // Polls every 50 ms up to `ms` later.
    void advance(int64_t ms)
    {
        const int64_t end = now + ms;
        while (now < end) {
            now = std::min(now + tv::PlayerSupervisor::kPollMs, end);
            sup.poll(now);
        }
    }
};

TEST(EngineRunctlSupervisor, ChangeClosesAtOnceAndStartsTheSuccessorLater)
{
    Pool pool(2);
    const pid_t old = pool.sup.processId(1);
    pool.sup.ChangePlayer(1, 7, pool.now);
    EXPECT_EQ(pool.host.closes, std::vector<int>{1});
    pool.advance(150);
    EXPECT_TRUE(pool.host.starts.empty()) << "the successor waits 200 ms for the old Player";
    pool.advance(50);
    EXPECT_EQ(pool.host.starts, (std::vector<Start>{{1, 7}}));
    EXPECT_NE(pool.sup.processId(1), old);
    EXPECT_EQ(pool.sup.source(1), 7);

    // The old Player obeys "Close": it is reaped and not started again.
    pool.ops.running.erase(old);
    pool.advance(3000);
    EXPECT_TRUE(pool.ops.reaped.count(old));
    EXPECT_EQ(pool.host.starts.size(), 1u);
    EXPECT_TRUE(pool.host.delays.empty());
    EXPECT_EQ(pool.sup.knownProcesses().size(), 2u);
}

TEST(EngineRunctlSupervisor, ChangesWithinTheWaitStartOnlyTheLatestSource)
{
    Pool pool(1);
    pool.sup.ChangePlayer(0, 3, pool.now);
    pool.advance(100);
    pool.sup.ChangePlayer(0, 4, pool.now);
    pool.advance(1000);
    EXPECT_EQ(pool.host.starts, (std::vector<Start>{{0, 4}}));
    EXPECT_EQ(pool.host.closes.size(), 2u);
}

TEST(EngineRunctlSupervisor, ReplacedPlayerIgnoringCloseIsKilled)
{
    Pool pool(1);
    const pid_t old = pool.sup.processId(0);
    pool.sup.ChangePlayer(0, 2, pool.now);
    pool.advance(tv::PlayerSupervisor::kCloseGraceMs - 100);
    EXPECT_FALSE(pool.ops.killed.count(old));
    pool.advance(200);
    EXPECT_TRUE(pool.ops.killed.count(old));
    pool.advance(100);
    EXPECT_TRUE(pool.ops.reaped.count(old));
    EXPECT_EQ(pool.sup.knownProcesses(), std::vector<pid_t>{pool.sup.processId(0)});
    EXPECT_TRUE(pool.host.delays.empty()) << "a replaced Player is never restarted";
}

TEST(EngineRunctlSupervisor, PlayerEndingOnItsOwnComesBackWithBackOff)
{
    Pool pool(2);
    std::vector<int64_t> gaps; // from each end to the restart
    for (int round = 0; round < 7; ++round) {
        pool.ops.running.erase(pool.sup.processId(0));
        pool.advance(tv::PlayerSupervisor::kPollMs);
        const int64_t ended = pool.now;
        ASSERT_TRUE(pool.sup.restartPending(0));
        pool.host.starts.clear();
        while (pool.host.starts.empty() && pool.now - ended < 60000)
            pool.advance(tv::PlayerSupervisor::kPollMs);
        ASSERT_EQ(pool.host.starts, (std::vector<Start>{{0, 1}})) << "same source again";
        gaps.push_back(pool.now - ended);
    }
    EXPECT_EQ(gaps, (std::vector<int64_t>{1000, 2000, 4000, 8000, 16000, 30000, 30000}));

    // A Player that ran a while starts with the short delay again.
    pool.advance(tv::PlayerSupervisor::kHealthyRunMs);
    pool.ops.running.erase(pool.sup.processId(0));
    pool.advance(tv::PlayerSupervisor::kPollMs);
    EXPECT_EQ(pool.host.delays.back(), 1000);
    EXPECT_FALSE(pool.sup.restartPending(1)) << "the other player is untouched";
}

TEST(EngineRunctlSupervisor, FailedStartIsRetried)
{
    Pool pool(1);
    pool.host.failStarts = true;
    pool.sup.ChangePlayer(0, 5, pool.now);
    pool.advance(300);
    EXPECT_EQ(pool.host.starts.size(), 1u);
    EXPECT_TRUE(pool.sup.restartPending(0));
    pool.host.failStarts = false;
    pool.advance(1000);
    EXPECT_EQ(pool.host.starts, (std::vector<Start>{{0, 5}, {0, 5}}));
    EXPECT_GT(pool.sup.processId(0), 0);
}

TEST(EngineRunctlSupervisor, AdoptedPlayersAreSupervisedToo)
{
    FakeOps ops;
    FakeHost host(ops);
    tv::PlayerSupervisor sup(host, ops, 2);
    ops.running.insert(77);
    sup.adopt(0, 77, 4, 0);
    sup.adopt(1, 0, 5, 0); // the engine's own start failed
    EXPECT_TRUE(sup.restartPending(1));
    ops.running.erase(77);
    sup.poll(50);
    sup.poll(1050);
    EXPECT_EQ(host.starts, (std::vector<Start>{{0, 4}, {1, 5}}));
}

TEST(EngineRunctlSupervisor, StopAllKillsAndReapsEverything)
{
    Pool pool(3);
    const pid_t replaced = pool.sup.processId(2);
    pool.sup.ChangePlayer(2, 9, pool.now);
    pool.advance(300);
    pool.ops.running.erase(pool.sup.processId(1)); // ended; a restart is pending
    pool.advance(50);
    std::vector<pid_t> alive = pool.sup.knownProcesses();
    ASSERT_EQ(alive.size(), 3u); // players 0 and 2, and the replaced one

    pool.sup.stopAll();
    for (pid_t pid : alive) {
        EXPECT_TRUE(pool.ops.killed.count(pid)) << pid;
        EXPECT_TRUE(pool.ops.reaped.count(pid)) << pid;
    }
    EXPECT_TRUE(pool.ops.killed.count(replaced));
    EXPECT_TRUE(pool.sup.knownProcesses().empty());

    // Nothing comes back after the stop, whatever is asked.
    pool.host.starts.clear();
    pool.sup.ChangePlayer(0, 4, pool.now);
    pool.advance(40000);
    EXPECT_TRUE(pool.host.starts.empty());
    EXPECT_TRUE(pool.sup.stopped());
}

} // namespace
