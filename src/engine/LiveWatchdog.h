#pragma once
// LiveWatchdog: the heartbeat count (HeartBit) behind the one-second TLive
// watchdog. The encoder's progress event sets it to 10; every tick lowers it
// by one; in the last five seconds the tick reports the count as a status
// text, and when it reaches 0 the tick says that the output has stalled. It
// says so once per stall; the count then goes on below 0 and is still
// reported.
//
// heartbeat() is called on the encoder's thread, tick() on the main thread;
// the count is one atomic word, so a lost update only shifts the countdown by
// a second. What to do on a stall (log, restart or stop) is the caller's.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace tv {

class LiveWatchdog {
public:
    static constexpr int kHeartBitSeconds = 10;   // a heartbeat gives this many seconds
    static constexpr int kReportBelow = 5;        // counts below this are reported
    static constexpr int kTickMs = 1000;          // TLive period
    static constexpr const char* kTimeOutText = "Time out error!";

    struct Tick {
        std::optional<std::string> status; // text for OnStatus, when to report
        bool timedOut = false;             // act now (restart or stop)
    };

    // Progress from the encoder: the status text of the frame number, and the
    // count is full again.
    std::string heartbeat(int64_t frameNumber);
    // One TLive tick.
    Tick tick();
    // The count set without a heartbeat (Init: 10 before its first tick).
    void reset(int seconds = kHeartBitSeconds) { heartBit_.store(seconds, std::memory_order_relaxed); }

    int HeartBit() const { return heartBit_.load(std::memory_order_relaxed); }

private:
    std::atomic<int> heartBit_{kHeartBitSeconds};
};

} // namespace tv
