#pragma once
// TThreadedSleep: the open watchdog. A thread of its own that waits up to
// Duration seconds for JobSucceed and, when the job has not finished by then,
// calls the expiry action on that thread (restart or stop, the owner's
// choice). It starts when created and ends by itself; the state is shared
// between the thread and the handle, so setting JobSucceed on a watchdog that
// has already ended is safe and does nothing.
//
// The expiry action runs on the watchdog's thread while the main thread may
// be blocked (typically in the encoder's AddTask); it must not wait for the
// main thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace tv {

class TThreadedSleep {
public:
    static constexpr int kStepMs = 1000; // Duration counts in seconds

    // Starts a watchdog of `seconds`; `onExpired` runs on its thread when the
    // job has not succeeded in time.
    static std::shared_ptr<TThreadedSleep> start(int seconds, std::function<void()> onExpired);

    // The watched job has finished; the thread ends without acting.
    void setJobSucceed();
    bool JobSucceed() const { return jobSucceed_.load(); }
    int Duration() const { return duration_.load(); }
    // The thread has ended (with or without acting).
    bool finished() const { return finished_.load(); }
    // For tests: waits until the thread has ended, at most `timeout`.
    bool waitFinished(std::chrono::milliseconds timeout);

    TThreadedSleep(int seconds, std::function<void()> onExpired);

private:
    void run();

    std::atomic<int> duration_;
    std::atomic<bool> jobSucceed_{false};
    std::atomic<bool> finished_{false};
    std::function<void()> onExpired_;
    std::mutex lock_;
    std::condition_variable wake_;
};

} // namespace tv
