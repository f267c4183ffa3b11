// Pacing of pictures and sound: on time, late, and re-anchored when a source
// stalls or its time stamps jump.
#include "media/PlaybackClock.h"

#include <gtest/gtest.h>

namespace tv::media {
namespace {

using namespace std::chrono;
using Verdict = PlaybackClock::Verdict;

TEST(PlayerPlaybackClock, ItemsAreDueAtTheirMediaTime)
{
    PlaybackClock clock;
    const auto t0 = PlaybackClock::Clock::now();
    struct Step {
        double media;   // seconds of media time
        int atMs;       // when it is looked at, after t0
        Verdict verdict;
        int dueMs;      // when it is due, after t0
    };
    const Step steps[] = {
        {10.00, 0, Verdict::Wait, 0},      // first item anchors
        {10.04, 0, Verdict::Wait, 40},     // ahead: wait
        {10.08, 100, Verdict::Late, 80},   // 20 ms late
        {11.00, 500, Verdict::Wait, 1000},
        {13.50, 1000, Verdict::Resynced, 1000}, // 2.5 s ahead: a jump
        {13.54, 1030, Verdict::Wait, 1040},
        {13.58, 2600, Verdict::Resynced, 2600}, // more than a second late: a stall
        {13.62, 2600, Verdict::Wait, 2640},
        {5.00, 2700, Verdict::Resynced, 2700},  // time stamps went back
    };
    for (const Step& s : steps) {
        const PlaybackClock::Schedule r = clock.schedule(s.media, t0 + milliseconds(s.atMs));
        EXPECT_EQ(r.verdict, s.verdict) << s.media;
        const double dueMs = duration<double, std::milli>(r.due - t0).count();
        EXPECT_NEAR(dueMs, s.dueMs, 1.0) << s.media;
    }
    clock.reset();
    EXPECT_EQ(clock.schedule(99.0, t0).verdict, Verdict::Wait);
    EXPECT_EQ(clock.schedule(99.5, t0).due, t0 + milliseconds(500));
}

} // namespace
} // namespace tv::media
