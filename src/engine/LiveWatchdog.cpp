#include "engine/LiveWatchdog.h"

namespace tv {

std::string LiveWatchdog::heartbeat(int64_t frameNumber)
{
    heartBit_.store(kHeartBitSeconds, std::memory_order_relaxed);
    return std::to_string(frameNumber);
}

LiveWatchdog::Tick LiveWatchdog::tick()
{
    const int left = heartBit_.fetch_sub(1, std::memory_order_relaxed) - 1;
    Tick t;
    if (left < kReportBelow)
        t.status = std::to_string(left);
    t.timedOut = left == 0;
    return t;
}

} // namespace tv
