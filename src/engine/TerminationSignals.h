#pragma once
// TerminationSignals: SIGTERM and SIGINT turned into a call of the owner's
// stop action, so that a service manager can stop a running mosaic the way
// the operator's exit does. The signal handler only writes the signal number
// into a pipe; a watcher thread reads it and hands the call to the thread
// that installed the object (the main thread, under its Qt event loop).
// When that thread does not take it within the grace time (it can be blocked
// for long, e.g. while the encoder opens an unreachable main source), the
// watcher makes the call itself, so a stop request is never left waiting.
// Each signal leads to exactly one call.
//
// One instance per process; destroying it (on the installing thread) ends
// the watcher and restores the default actions.

#include "common/Result.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

class QObject;

namespace tv {

class TerminationSignals {
public:
    static constexpr std::chrono::milliseconds kDefaultGrace{2000};

    // Installs the handlers; `onSignal` gets the signal number, normally on
    // the installing thread, on the watcher thread after `grace`. Fails when
    // another instance is installed or the pipes cannot be made.
    static Result<std::unique_ptr<TerminationSignals>> install(std::function<void(int)> onSignal,
                                                               std::chrono::milliseconds grace = kDefaultGrace);
    ~TerminationSignals();

    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    TerminationSignals() = default;
    void watch();
    // Calls onSignal for signal number `sequence` unless that was done.
    void deliver(std::uint64_t sequence, int sig);

    std::function<void(int)> onSignal_;
    std::chrono::milliseconds grace_{kDefaultGrace};
    std::unique_ptr<QObject> context_;
    std::thread watcher_;
    int stopRead_ = -1;
    int stopWrite_ = -1;
    std::atomic<std::uint64_t> delivered_{0};
};

} // namespace tv
