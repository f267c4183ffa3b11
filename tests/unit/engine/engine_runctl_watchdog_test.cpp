// The heartbeat countdown and the open watchdog thread.

#include "engine/LiveWatchdog.h"
#include "engine/TThreadedSleep.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Status texts and stall decisions of `ticks` ticks in a row.
std::vector<std::string> countdown(tv::LiveWatchdog& wd, int ticks, int* timeOuts)
{
    std::vector<std::string> texts;
    for (int i = 0; i < ticks; ++i) {
        auto t = wd.tick();
        texts.push_back(t.status.value_or("-"));
        *timeOuts += t.timedOut ? 1 : 0;
    }
    return texts;
}

TEST(EngineRunctlWatchdog, CountsDownTheLastFiveSecondsAndActsOnce)
{
    tv::LiveWatchdog wd;
    EXPECT_EQ(wd.heartbeat(1234), "1234");
    int timeOuts = 0;
    auto texts = countdown(wd, 12, &timeOuts);
    EXPECT_EQ(texts, (std::vector<std::string>{"-", "-", "-", "-", "-", "4", "3", "2", "1", "0",
                                               "-1", "-2"}));
    EXPECT_EQ(timeOuts, 1);
}

TEST(EngineRunctlWatchdog, HeartbeatsKeepItQuiet)
{
    tv::LiveWatchdog wd;
    int timeOuts = 0;
    for (int second = 0; second < 100; ++second) {
        wd.heartbeat(second * 25);
        auto t = wd.tick();
        EXPECT_FALSE(t.status) << second;
        timeOuts += t.timedOut ? 1 : 0;
    }
    EXPECT_EQ(timeOuts, 0);
    EXPECT_EQ(wd.HeartBit(), 9);
}

TEST(EngineRunctlWatchdog, StartWithoutOutputStillTimesOut)
{
    // The run's start sets the count and ticks once before it opens
    // anything: the first stall decision comes nine ticks later.
    tv::LiveWatchdog wd;
    wd.reset();
    wd.tick();
    int timeOuts = 0;
    countdown(wd, 8, &timeOuts);
    EXPECT_EQ(timeOuts, 0);
    countdown(wd, 1, &timeOuts);
    EXPECT_EQ(timeOuts, 1);
}

TEST(EngineRunctlWatchdog, OpenWatchdogActsWhenTheJobHangs)
{
    std::atomic<int> fired{0};
    auto wd = tv::TThreadedSleep::start(1, [&] { ++fired; });
    ASSERT_TRUE(wd->waitFinished(30s));
    EXPECT_EQ(fired.load(), 1);
    EXPECT_EQ(wd->Duration(), 0);
    wd->setJobSucceed(); // after its end: harmless, nothing happens
    EXPECT_EQ(fired.load(), 1);
}

TEST(EngineRunctlWatchdog, OpenWatchdogEndsQuietlyOnSuccess)
{
    std::atomic<int> fired{0};
    auto wd = tv::TThreadedSleep::start(10, [&] { ++fired; });
    std::this_thread::sleep_for(20ms);
    wd->setJobSucceed();
    // It ends at once, not after its remaining seconds.
    ASSERT_TRUE(wd->waitFinished(5s));
    EXPECT_EQ(fired.load(), 0);
    EXPECT_GT(wd->Duration(), 5);
}

TEST(EngineRunctlWatchdog, DroppedHandleDoesNotStopTheWatchdog)
{
    std::atomic<int> fired{0};
    std::weak_ptr<tv::TThreadedSleep> weak;
    {
        auto wd = tv::TThreadedSleep::start(1, [&] { ++fired; });
        weak = wd;
    }
    for (int i = 0; i < 300 && fired.load() == 0; ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(fired.load(), 1);
    for (int i = 0; i < 300 && !weak.expired(); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(weak.expired()) << "the thread releases the watchdog when it ends";
}

} // namespace
