#include "media/PlaybackClock.h"

namespace tv::media {

PlaybackClock::Schedule PlaybackClock::schedule(double seconds, Clock::time_point now)
{
    std::lock_guard lock(mutex_);
    if (!anchored_) {
        anchored_ = true;
        originWall_ = now;
        originMedia_ = seconds;
        return {Verdict::Wait, now, 0.0};
    }
    const auto offset = std::chrono::duration<double>(seconds - originMedia_);
    const auto due = originWall_ + std::chrono::duration_cast<Clock::duration>(offset);
    const double lead = std::chrono::duration<double>(due - now).count();
    if (lead > kMaxLeadSeconds || -lead > kMaxLagSeconds) {
        originWall_ = now;
        originMedia_ = seconds;
        return {Verdict::Resynced, now, 0.0};
    }
    if (lead >= 0)
        return {Verdict::Wait, due, 0.0};
    return {Verdict::Late, due, -lead};
}

void PlaybackClock::reset()
{
    std::lock_guard lock(mutex_);
    anchored_ = false;
}

} // namespace tv::media
