#include "engine/TThreadedSleep.h"

#include <thread>

namespace tv {

TThreadedSleep::TThreadedSleep(int seconds, std::function<void()> onExpired)
    : duration_(seconds), onExpired_(std::move(onExpired))
{
}

std::shared_ptr<TThreadedSleep> TThreadedSleep::start(int seconds,
                                                      std::function<void()> onExpired)
{
    auto self = std::make_shared<TThreadedSleep>(seconds, std::move(onExpired));
    // The thread holds its own reference: it releases the state when it ends,
    // and the owner's handle stays valid for as long as the owner keeps it.
    std::thread([self] { self->run(); }).detach();
    return self;
}

void TThreadedSleep::setJobSucceed()
{
    {
        std::lock_guard guard(lock_);
        jobSucceed_.store(true);
    }
    wake_.notify_all();
}

void TThreadedSleep::run()
{
    {
        std::unique_lock guard(lock_);
        while (duration_.load() > 0 && !jobSucceed_.load()) {
            wake_.wait_for(guard, std::chrono::milliseconds(kStepMs),
                           [this] { return jobSucceed_.load(); });
            if (!jobSucceed_.load())
                duration_.fetch_sub(1);
        }
    }
    if (!jobSucceed_.load() && onExpired_)
        onExpired_();
    {
        std::lock_guard guard(lock_);
        finished_.store(true);
    }
    wake_.notify_all();
}

bool TThreadedSleep::waitFinished(std::chrono::milliseconds timeout)
{
    std::unique_lock guard(lock_);
    return wake_.wait_for(guard, timeout, [this] { return finished_.load(); });
}

} // namespace tv
