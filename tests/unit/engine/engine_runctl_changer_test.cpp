// Source changer decisions on a fake host: which player gets which source,
// how slots rotate, and how the two timers are switched.

#include "engine/SourceChanger.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using Change = std::pair<int, int>; // player, source
constexpr int64_t kStart = 100000;  // any monotonic time past the guard
constexpr int64_t kPeriod = 3000;

struct FakeHost : tv::SourceChangerHost {
    std::vector<Change> changes;
    bool changerOn = false;
    int changerStarts = 0;
    int intervalMs = 0;
    bool groupOn = false;

    void ChangePlayer(int player, int source) override { changes.emplace_back(player, source); }
    void setChangerActive(bool on) override
    {
        changerOn = on;
        changerStarts += on ? 1 : 0;
    }
    void setChangerInterval(int ms) override { intervalMs = ms; }
    void setGroupChangerActive(bool on) override { groupOn = on; }
};

// A run as the engine starts it: every player with its first source, the
// cursors set, the settings applied, TChanger running.
struct ChangerRun {
    FakeHost host;
    tv::SourceChanger changer;
    int64_t now = kStart;

    ChangerRun(int players, int sources, int mode) : changer(host, players, sources)
    {
        changer.startRotation();
        changer.applySettings(3, mode, sources);
        host.setChangerActive(true);
    }
    void tick()
    {
        now += kPeriod;
        changer.TChangerTimer(now);
    }
    // A group pass, with a bound so a pass that never ends fails instead of
    // hanging.
    int runGroup()
    {
        int ticks = 0;
        while (host.groupOn && ticks < 100) {
            changer.TGroupChangerTimer();
            ++ticks;
        }
        return ticks;
    }
    std::vector<int> tags() const
    {
        std::vector<int> t;
        for (int s = 0; s < changer.players(); ++s)
            t.push_back(changer.slotTag(s));
        return t;
    }
};

TEST(EngineRunctlChanger, StartAssignsSourcesInTurn)
{
    struct Case {
        int players, sources;
        std::vector<int> first;
        int sourceIndex;
    } cases[] = {
        {2, 5, {1, 2}, 3},
        {5, 3, {1, 2, 3, 1, 2}, 3},
        {3, 3, {1, 2, 3}, 1},
        {2, 0, {1, 1}, 1}, // a profile without sources counts as one
    };
    for (const Case& c : cases) {
        ChangerRun run(c.players, c.sources, tv::SourceChanger::OneByOne);
        std::vector<int> first;
        for (int p = 0; p < c.players; ++p)
            first.push_back(run.changer.initialSource(p));
        EXPECT_EQ(first, c.first) << c.players << " players, " << c.sources << " sources";
        EXPECT_EQ(run.changer.SourceIndex(), c.sourceIndex);
        EXPECT_EQ(run.changer.PlayerIndex(), 0);
    }
}

TEST(EngineRunctlChanger, OneByOneSequences)
{
    struct Case {
        const char* name;
        int players, sources;
        std::vector<std::pair<int, int>> pins; // slot, source (before the first tick)
        std::vector<Change> expected;         // changes made by the ticks
    } cases[] = {
        {"N5 P2 no pins", 2, 5, {},
         {{0, 3}, {1, 4}, {0, 5}, {1, 1}, {0, 2}, {1, 3}}},
        {"N5 P2 source 4 pinned to player 1", 2, 5, {{1, 4}},
         {{0, 3}, {0, 5}, {0, 1}, {0, 2}, {0, 3}}},
        {"N3 P3 every player pinned", 3, 3, {{0, 1}, {1, 2}, {2, 3}}, {}},
        {"N2 P3 more players than sources", 3, 2, {},
         {{0, 2}, {1, 1}, {2, 2}, {0, 1}}},
    };
    for (const Case& c : cases) {
        ChangerRun run(c.players, c.sources, tv::SourceChanger::OneByOne);
        for (auto [slot, source] : c.pins)
            run.changer.AssignSourceToPlayer(slot, source);
        run.host.changes.clear(); // the pins' own restarts
        for (size_t i = 0; i < std::max<size_t>(c.expected.size(), 4); ++i)
            run.tick();
        run.host.changes.resize(std::min(run.host.changes.size(), c.expected.size()));
        EXPECT_EQ(run.host.changes, c.expected) << c.name;
        EXPECT_TRUE(run.host.changerOn) << c.name;
    }
}

TEST(EngineRunctlChanger, NextFreeSourceEndsWhenEverySourceIsPinned)
{
    ChangerRun run(3, 3, tv::SourceChanger::OneByOne);
    for (int slot = 0; slot < 3; ++slot)
        run.changer.AssignSourceToPlayer(slot, slot + 1);
    // SourceIndex is 1 after the start; the plain successor comes back.
    EXPECT_EQ(run.changer.NextFreeSource(), 2);
    run.tick();
    EXPECT_EQ(run.host.changes.size(), 3u) << "only the pins' own restarts";
}

TEST(EngineRunctlChanger, NextFreeSourceSkipsPinnedAndWraps)
{
    ChangerRun run(4, 5, tv::SourceChanger::OneByOne); // SourceIndex 5 after the start
    EXPECT_EQ(run.changer.NextFreeSource(), 1);
    run.changer.AssignSourceToPlayer(0, 1);
    run.changer.AssignSourceToPlayer(1, 2);
    EXPECT_EQ(run.changer.NextFreeSource(), 3);
}

TEST(EngineRunctlChanger, GuardIgnoresRunsWithin500ms)
{
    struct Case {
        int64_t gap;
        size_t changes;
    } cases[] = {{0, 1}, {1, 1}, {499, 1}, {500, 2}, {3000, 2}};
    for (const Case& c : cases) {
        ChangerRun run(2, 5, tv::SourceChanger::OneByOne);
        run.changer.TChangerTimer(kStart);
        const int starts = run.host.changerStarts;
        run.changer.TChangerTimer(kStart + c.gap);
        EXPECT_EQ(run.host.changes.size(), c.changes) << "gap " << c.gap;
        if (c.changes == 1) {
            EXPECT_EQ(run.changer.LastChange(), kStart) << "an ignored run changes nothing";
            EXPECT_EQ(run.host.changerStarts, starts) << "an ignored run leaves the timer alone";
        }
    }
}

TEST(EngineRunctlChanger, ModeZeroStopsTheChanger)
{
    ChangerRun run(2, 5, tv::SourceChanger::NoChange);
    run.tick();
    EXPECT_FALSE(run.host.changerOn);
    run.tick(); // "Change Now"
    EXPECT_TRUE(run.host.changes.empty());
    EXPECT_FALSE(run.host.changerOn);

    // A new mode takes effect at the next run, not by itself.
    run.changer.applySettings(5, tv::SourceChanger::OneByOne, 5);
    EXPECT_FALSE(run.host.changerOn);
    EXPECT_EQ(run.host.intervalMs, 5000);
    run.tick();
    EXPECT_EQ(run.host.changes, (std::vector<Change>{{0, 3}}));
    EXPECT_TRUE(run.host.changerOn);
}

TEST(EngineRunctlChanger, UnknownModeChangesNothingButKeepsTicking)
{
    ChangerRun run(2, 5, 7);
    run.tick();
    EXPECT_TRUE(run.host.changes.empty());
    EXPECT_TRUE(run.host.changerOn);
}

TEST(EngineRunctlChanger, CircularRotatesRotatingPlayersOnly)
{
    struct Case {
        const char* name;
        std::vector<std::pair<int, int>> pins; // slot, source
        std::vector<int> tags;                 // after one tick
        Change change;
    } cases[] = {
        {"no pins", {}, {1, 2, 3, 0}, {0, 5}},
        {"player 1 pinned", {{1, 7}}, {2, 1, 3, 0}, {0, 5}},
        {"players 0 and 3 pinned", {{0, 7}, {3, 8}}, {0, 2, 1, 3}, {1, 5}},
        {"all pinned", {{0, 5}, {1, 6}, {2, 7}, {3, 8}}, {0, 1, 2, 3}, {-1, -1}},
    };
    for (const Case& c : cases) {
        ChangerRun run(4, 8, tv::SourceChanger::Circular);
        for (auto [slot, source] : c.pins)
            run.changer.AssignSourceToPlayer(slot, source);
        run.host.changes.clear();
        run.tick();
        EXPECT_EQ(run.tags(), c.tags) << c.name;
        if (c.change.first < 0)
            EXPECT_TRUE(run.host.changes.empty()) << c.name;
        else
            EXPECT_EQ(run.host.changes, std::vector<Change>{c.change}) << c.name;
    }
}

TEST(EngineRunctlChanger, CircularComesBackAfterPTicks)
{
    ChangerRun run(4, 8, tv::SourceChanger::Circular);
    run.tick();
    run.tick();
    EXPECT_EQ(run.tags(), (std::vector<int>{2, 3, 0, 1}));
    run.tick();
    run.tick();
    EXPECT_EQ(run.tags(), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(run.host.changes, (std::vector<Change>{{0, 5}, {1, 6}, {2, 7}, {3, 8}}));
}

TEST(EngineRunctlChanger, AssignPinsThePlayerShownInTheSlot)
{
    ChangerRun run(4, 8, tv::SourceChanger::Circular);
    run.tick(); // slot 2 now shows player 3
    run.host.changes.clear();
    run.changer.AssignSourceToPlayer(2, 2); // the cell numbered 3
    EXPECT_EQ(run.host.changes, (std::vector<Change>{{3, 2}}));
    EXPECT_EQ(run.changer.AssignedSource(3), 2);

    // Releasing changes no picture; the player rotates again at its turn.
    run.host.changes.clear();
    run.changer.AssignSourceToPlayer(2, 0);
    EXPECT_TRUE(run.host.changes.empty());
    EXPECT_EQ(run.changer.AssignedSource(3), 0);

    // Out of range: nothing happens.
    run.changer.AssignSourceToPlayer(4, 1);
    run.changer.AssignSourceToPlayer(-1, 1);
    EXPECT_TRUE(run.host.changes.empty());
}

TEST(EngineRunctlChanger, GroupPassVisitsEveryPlayerOnce)
{
    struct Case {
        const char* name;
        std::vector<std::pair<int, int>> pins; // slot, source
        std::vector<Change> changes;
        int ticks;
    } cases[] = {
        {"no pins", {}, {{0, 5}, {1, 6}, {2, 1}, {3, 2}}, 4},
        {"last player pinned", {{3, 2}}, {{0, 5}, {1, 6}, {2, 1}}, 3},
        {"middle player pinned", {{1, 6}}, {{0, 5}, {2, 1}, {3, 2}}, 3},
        {"first player pinned", {{0, 1}}, {{1, 5}, {2, 6}, {3, 2}}, 3},
        {"every player pinned", {{0, 1}, {1, 2}, {2, 3}, {3, 4}}, {}, 1},
    };
    for (const Case& c : cases) {
        ChangerRun run(4, 6, tv::SourceChanger::GroupByGroup);
        for (auto [slot, source] : c.pins)
            run.changer.AssignSourceToPlayer(slot, source);
        run.host.changes.clear();
        run.tick();
        EXPECT_TRUE(run.host.groupOn) << c.name;
        EXPECT_TRUE(run.host.changes.empty()) << c.name << ": the tick itself changes nobody";
        EXPECT_EQ(run.runGroup(), c.ticks) << c.name;
        EXPECT_EQ(run.host.changes, c.changes) << c.name;
        EXPECT_FALSE(run.changer.groupPassRunning()) << c.name;
    }
}

TEST(EngineRunctlChanger, GroupPassRestartsOnTheNextChangerRun)
{
    ChangerRun run(4, 6, tv::SourceChanger::GroupByGroup);
    run.tick();
    run.changer.TGroupChangerTimer();
    run.changer.TGroupChangerTimer();
    EXPECT_EQ(run.changer.PlayerIndex(), 2);
    run.tick();
    EXPECT_EQ(run.changer.PlayerIndex(), 0);
    run.runGroup();
    EXPECT_EQ(run.host.changes,
              (std::vector<Change>{{0, 5}, {1, 6}, {0, 1}, {1, 2}, {2, 3}, {3, 4}}));
}

TEST(EngineRunctlChanger, ShorterSourceListKeepsTheCursorInRange)
{
    ChangerRun run(2, 5, tv::SourceChanger::OneByOne);
    run.tick();
    run.tick(); // SourceIndex is now 5
    ASSERT_EQ(run.changer.SourceIndex(), 5);
    run.changer.applySettings(3, tv::SourceChanger::OneByOne, 3);
    EXPECT_GE(run.changer.SourceIndex(), 1);
    EXPECT_LE(run.changer.SourceIndex(), 3);
    run.changer.applySettings(0, tv::SourceChanger::OneByOne, 3);
    EXPECT_EQ(run.host.intervalMs, 1000) << "a zero interval must not spin the timer";
}

} // namespace
