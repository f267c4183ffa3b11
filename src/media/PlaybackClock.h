#pragma once
// PlaybackClock: maps the media time of decoded pictures and sound to the
// wall clock so that a source plays at its own pace. The first item fixes the
// origin; a live source that falls behind or jumps ahead (stall, time stamp
// wrap, discontinuity) re-anchors the origin instead of building up delay.
// Shared by the video and audio output threads of one playback; thread-safe.

#include <chrono>
#include <mutex>

namespace tv::media {

class PlaybackClock {
public:
    using Clock = std::chrono::steady_clock;

    // Item lateness beyond which the origin is moved to "now".
    static constexpr double kMaxLagSeconds = 1.0;
    // Item lead beyond which the origin is moved to "now" (time stamp jump).
    static constexpr double kMaxLeadSeconds = 2.0;

    enum class Verdict {
        Wait,     // due in the future: wait until `due`
        Late,     // due in the past, but within kMaxLagSeconds
        Resynced, // origin moved; due now
    };

    struct Schedule {
        Verdict verdict;
        Clock::time_point due;
        double lateSeconds; // > 0 when late
    };

    // When the item of media time `seconds` is due, measured at `now`.
    Schedule schedule(double seconds, Clock::time_point now = Clock::now());

    void reset();

private:
    std::mutex mutex_;
    bool anchored_ = false;
    Clock::time_point originWall_{};
    double originMedia_ = 0.0;
};

} // namespace tv::media
